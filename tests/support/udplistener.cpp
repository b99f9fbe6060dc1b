#include "support/udplistener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrix::test {

udpListener::udpListener(uint16_t port)
{
    socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket < 0)
        return;
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    const int buffer = 8 << 20;
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(socket);
        socket = -1;
    }
}

udpListener::~udpListener()
{
    if (socket >= 0)
        close(socket);
}

std::vector<std::string> udpListener::receiveUntil(char last, int timeoutMs)
{
    std::vector<std::string> got;
    while (socket >= 0) {
        pollfd p{socket, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            break;
        char data[70000];
        const ssize_t n = recv(socket, data, sizeof(data), 0);
        if (n < 0)
            break;
        got.emplace_back(data, size_t(n));
        if (n > 0 && data[0] == last)
            break;
    }
    return got;
}

} // namespace tavrix::test
