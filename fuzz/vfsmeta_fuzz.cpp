// Feeds arbitrary bytes to the meta-database reader as data/meta/contentDB, with the content store running
// in a temporary directory of its own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "client/cvar.h"
#include "client/timer.h"
#include "client/vfslocal.h"
#include "platformlib/allocator/roalloc.h"

namespace {

// At the fuzzer's exit, before the modules' static state goes: their workers would still wait on it.
void stopModules()
{
    tavrix::vfs::final();
    tavrix::cvar::final();
    timer_final();
    roalloc_final();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string dir = std::string(P_tmpdir) + "/vfsmeta-fuzz-XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0)
        std::abort();
    roalloc_init();
    if (!tavrix::cvar::init())
        std::abort();
    timer_init();
    tavrix::vfs::init();
    std::atexit(stopModules);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen("data/meta/contentDB", "wb");
    if (!file)
        std::abort();
    if (size)
        std::fwrite(data, size, 1, file);
    std::fclose(file);
    tavrix::vfs::loadMetaData();
    tavrix::vfs::fileDB_wipe();
    return 0;
}
