#include "platformlib/posix/cachefiles.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace tavrix::sys {

namespace {

bool writeAll(int fd, const void* data, uint32_t bytes)
{
    const char* at = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t put = ::write(fd, at, bytes);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        bytes -= uint32_t(put);
    }
    return true;
}

} // namespace

bool replaceFileWith(const char* path, const void* head, uint32_t headBytes, const void* body, uint32_t bodyBytes)
{
    static std::atomic<uint32_t> serial{0};
    char temporary[4096];
    const int n = std::snprintf(temporary, sizeof(temporary), "%s.tmp%ld.%u", path, long(getpid()), serial.fetch_add(1));
    if (n < 0 || size_t(n) >= sizeof(temporary))
        return false;
    const int fd = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, head, headBytes) && writeAll(fd, body, bodyBytes);
    ok = ::close(fd) == 0 && ok;
    ok = ok && rename(temporary, path) == 0;
    if (!ok)
        unlink(temporary);
    return ok;
}

} // namespace tavrix::sys
