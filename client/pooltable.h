#pragma once
// Every element pool of the client in one place: its name, the key prefix of its two settings
// (<prefix>.allocStep and <prefix>.initialAlloc), their defaults and whether it asks for large pages.
// Element types and callbacks stay with the modules that own them; makePool builds a pool from its row.
#include <cstdint>

#include "client/cvar.h"
#include "platformlib/allocator/pool.h"

namespace tavrix {

struct poolSettings {
    const char* name;
    const char* keyPrefix;
    const char* allocStepKey;
    const char* initialAllocKey;
    uint32_t allocStep;
    uint32_t initialAlloc;
    uint8_t largePages;
};

namespace pools {

inline constexpr poolSettings soundTask{"sound.Task", "sound.task", "sound.task.allocStep", "sound.task.initialAlloc", 256, 512, 0};
inline constexpr poolSettings blockType{"blockType", "worldFactory.blockType", "worldFactory.blockType.allocStep", "worldFactory.blockType.initialAlloc", 64, 64, 0};
inline constexpr poolSettings mainTaskQueueEntry{"MainTaskQueueEntry", "mainTaskQueue.entry", "mainTaskQueue.entry.allocStep", "mainTaskQueue.entry.initialAlloc", 128, 1024, 0};
inline constexpr poolSettings vfsAssetSchemeJobInfo{"VFSAssetSchemeJobInfo", "ui.wk.vfsAssetSchemeJobInfoPool", "ui.wk.vfsAssetSchemeJobInfoPool.allocStep", "ui.wk.vfsAssetSchemeJobInfoPool.initialAlloc", 64, 64, 0};
inline constexpr poolSettings textureMgrTask{"textureMgrTaskPool", "textureMgr.task", "textureMgr.task.allocStep", "textureMgr.task.initialAlloc", 128, 128, 0};
inline constexpr poolSettings timerListEntry{"TimerListEntry", "timer.entry", "timer.entry.allocStep", "timer.entry.initialAlloc", 512, 8192, 1};
inline constexpr poolSettings uiWorkerQueueElem{"workerQueueElemPool", "ui.workerQueue", "ui.workerQueue.allocStep", "ui.workerQueue.initialAlloc", 128, 512, 0};
inline constexpr poolSettings uiWindowCleanupQueueElem{"windowCleanupQueueElemPool", "ui.windowCleanupQueue", "ui.windowCleanupQueue.allocStep", "ui.windowCleanupQueue.initialAlloc", 128, 512, 0};
inline constexpr poolSettings uiInputEvent{"inputEventPool", "ui.inputEvent", "ui.inputEvent.allocStep", "ui.inputEvent.initialAlloc", 2048, 32768, 0};
inline constexpr poolSettings vfsJobEntry{"vfsJobEntry", "vfs.jobEntry", "vfs.jobEntry.allocStep", "vfs.jobEntry.initialAlloc", 128, 256, 0};
inline constexpr poolSettings worldBlock{"Block", "worldFactory.Block", "worldFactory.Block.allocStep", "worldFactory.Block.initialAlloc", 8192, 3407360, 0};
inline constexpr poolSettings worldChunk{"Chunk", "worldFactory.Chunk", "worldFactory.Chunk.allocStep", "worldFactory.Chunk.initialAlloc", 64, 1331, 0};

inline constexpr const poolSettings* all[] = {
    &soundTask, &blockType, &mainTaskQueueEntry, &vfsAssetSchemeJobInfo, &textureMgrTask, &timerListEntry,
    &uiWorkerQueueElem, &uiWindowCleanupQueueElem, &uiInputEvent, &vfsJobEntry, &worldBlock, &worldChunk,
};

} // namespace pools

// Registers the pool's two settings (persistent, the defaults of its row), reads them back and builds the
// pool with them.
template <class T>
Pool<T>* makePool(const poolSettings& settings, typename Pool<T>::elemCallback elemInit = nullptr,
                  typename Pool<T>::elemCallback elemRelease = nullptr, typename Pool<T>::growCallback grow = nullptr)
{
    cvar::initialize(settings.allocStepKey, int(settings.allocStep), 1);
    cvar::initialize(settings.initialAllocKey, int(settings.initialAlloc), 1);
    const uint32_t allocStep = uint32_t(cvar::getI32(settings.allocStepKey));
    const uint32_t initialAlloc = uint32_t(cvar::getI32(settings.initialAllocKey));
    return new Pool<T>(settings.name, allocStep, initialAlloc, settings.largePages, elemInit, elemRelease, grow);
}

} // namespace tavrix
