#include "platformlib/posix/udpsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrix::sys {

int udpOpen()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return s < 0 ? INVALID_UDP_SOCKET : s;
}

int udpLastError() { return errno; }

udpAddress udpTarget(const char* address, uint16_t port)
{
    udpAddress target{};
    target.family = AF_INET;
    target.port = htons(port);
    in_addr parsed{};
    target.address = address && inet_pton(AF_INET, address, &parsed) == 1 ? parsed.s_addr : INADDR_NONE;
    return target;
}

long udpSendTo(int socket, const udpAddress& target, const void* data, size_t size)
{
    sockaddr_in to{};
    to.sin_family = target.family;
    to.sin_port = target.port;
    to.sin_addr.s_addr = target.address;
    return ::sendto(socket, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

void udpClose(int socket) { ::close(socket); }

} // namespace tavrix::sys
