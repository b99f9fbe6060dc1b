// Feeds arbitrary bytes to the block-definition loader. The texture manager runs without OpenGL, with a
// default texture of 64 x 64 standing in: every texture the definitions name is missing from the content
// store, so each surface gets the default, and each registered block type is published and then cleared.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <unistd.h>

#include "client/blocktyperegistrylocal.h"
#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/texturemgr.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/exception.h"

namespace {

alignas(tavrix::textureMgr::texture) unsigned char standInBlock[sizeof(tavrix::textureMgr::texture) + 32];

void installStandInDefault()
{
    auto* tex = new (standInBlock) tavrix::textureMgr::texture{};
    tex->name = reinterpret_cast<char*>(standInBlock + sizeof(tavrix::textureMgr::texture));
    std::snprintf(tex->name, 32, "data/textures/default.png");
    tex->width = 64;
    tex->height = 64;
    // Never released to 0: it is no record of the manager's tables.
    tex->refCnt.store(INT32_MAX / 2);
    tavrix::textureMgr::cb_DefaultTextureLoaded(tex, nullptr, nullptr);
}

// At the fuzzer's exit, before the modules' static state goes: their workers would still wait on it.
void stopModules()
{
    tavrix::worldFactory::final();
    tavrix::textureMgr::final();
    tavrix::mainTaskQueue::final();
    tavrix::vfs::final();
    tavrix::cvar::final();
    timer_final();
    roalloc_final();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string dir = std::string(P_tmpdir) + "/blockdef-fuzz-XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0)
        std::abort();
    roalloc_init();
    if (!tavrix::cvar::init())
        std::abort();
    tavrix::cvar::set("worldFactory.Block.initialAlloc", 64);
    tavrix::cvar::set("worldFactory.Chunk.initialAlloc", 64);
    timer_init();
    tavrix::vfs::init();
    tavrix::mainTaskQueue::init();
    tavrix::textureMgr::init();
    installStandInDefault();
    tavrix::worldFactory::init();
    std::atexit(stopModules);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    try {
        tavrix::blockTypeRegistry::loadJson(reinterpret_cast<const char*>(data), uint32_t(size));
    } catch (tavrix::util::Exception* e) {
        delete e;
    }
    tavrix::blockTypeRegistry::clear();
    if (tavrix::blockTypeRegistry::pendingRegistrations() != 0)
        std::abort();
    return 0;
}
