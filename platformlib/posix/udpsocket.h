#pragma once
// Thin UDP datagram layer over BSD sockets for the log console.
#include <cstddef>
#include <cstdint>

namespace tavrix::sys {

constexpr int INVALID_UDP_SOCKET = -1;

// An IPv4 socket address: family, port and address, both in network byte order.
struct udpAddress {
    uint16_t family;
    uint16_t port;
    uint32_t address;
};

// An IPv4 datagram socket, or INVALID_UDP_SOCKET (see udpLastError).
int udpOpen();
// The last socket error of the calling thread.
int udpLastError();
// The target for a dotted IPv4 text and a host-order port; text that does not parse gives the address
// 255.255.255.255, to which no datagram can be sent.
udpAddress udpTarget(const char* address, uint16_t port);
// One datagram; returns the bytes sent or -1.
long udpSendTo(int socket, const udpAddress& target, const void* data, size_t size);
void udpClose(int socket);

} // namespace tavrix::sys
