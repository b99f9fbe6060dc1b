#include "platformlib/posix/dynlib.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <climits>

#include <dlfcn.h>
#include <unistd.h>

#include "platformlib/hooks.h"
#include "platformlib/util/exception.h"

// The loader reports its failures as text (dlerror), not as a number. The error number in the messages is
// errno as the failed call left it (ENOENT for a missing file, say), or 0 when the loader set none.

namespace tavrix::sys {
namespace {

// A bare name is looked for in the program's own folder first, as on Windows. The executable's RUNPATH
// alone would not do: the loader searches the RUNPATH of the object that calls dlopen, and the sanitizer
// runtimes call it on the program's behalf.
bool besideProgram(const char* fileName, char (&path)[PATH_MAX])
{
    if (std::strchr(fileName, '/'))
        return false;
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || size_t(length) >= sizeof path)
        return false;
    char* slash = static_cast<char*>(memrchr(path, '/', size_t(length)));
    std::size_t nameLength = std::strlen(fileName);
    if (!slash || size_t(slash + 1 - path) + nameLength >= sizeof path)
        return false;
    std::memcpy(slash + 1, fileName, nameLength + 1);
    return access(path, F_OK) == 0;
}

} // namespace

dynLib::dynLib(const char* fileName) : handle(nullptr), name(nullptr)
{
    char path[PATH_MAX];
    const char* opened = besideProgram(fileName, path) ? path : fileName;
    errno = 0;
    handle = dlopen(opened, RTLD_NOW);
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
