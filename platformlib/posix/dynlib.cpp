#include "platformlib/posix/dynlib.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <dlfcn.h>

#include "platformlib/hooks.h"
#include "platformlib/util/exception.h"

// The loader reports its failures as text (dlerror), not as a number. The error number in the messages is
// errno as the failed call left it (ENOENT for a missing file, say), or 0 when the loader set none.

namespace tavrix::sys {

dynLib::dynLib(const char* fileName) : handle(nullptr), name(nullptr)
{
    errno = 0;
    handle = dlopen(fileName, RTLD_NOW);
    if (!handle)
        throw new tavrix::util::Exception("Loading of Shared Library '%s' failed (GetLastError: %u)", fileName,
                                          uint32_t(errno));
    const std::size_t size = std::strlen(fileName) + 1;
    name = new char[size];
    std::memcpy(name, fileName, size);
}

dynLib::~dynLib()
{
    if (handle)
        dlclose(handle);
    delete[] name;
}

void* dynLib::getProcAddress(const char* symbol) const
{
    errno = 0;
    void* address = dlsym(handle, symbol);
    if (!address)
        PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] %s: failed to resolve '%s' (GetLastError: %u)\n", name, symbol,
                     uint32_t(errno));
    return address;
}

const char* dynLib::extension() { return "so"; }

} // namespace tavrix::sys
