#pragma once
// A UDP socket bound on 127.0.0.1 that collects the datagrams sent to it.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrix::test {

class udpListener {
public:
    explicit udpListener(uint16_t port);
    ~udpListener();
    udpListener(const udpListener&) = delete;
    udpListener& operator=(const udpListener&) = delete;

    bool bound() const { return socket >= 0; }
    // Datagrams received until one starts with the byte `last` (kept) or nothing arrives for timeoutMs.
    std::vector<std::string> receiveUntil(char last, int timeoutMs);

private:
    int socket = -1;
};

} // namespace tavrix::test
