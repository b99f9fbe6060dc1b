#pragma once
// The sound worker's task record, and the open device with its two contexts, which only the worker
// touches.
#include <AL/alc.h>

#include <cstdint>

namespace tavrix {
class bgmStream;
}

namespace tavrix::sound {

enum taskType : int32_t {
    TASK_SET_OUTPUT_DEVICE = 0,
    TASK_BGM_STOP = 1,
    TASK_BGM_PLAY = 2,
    TASK_BGM_UPDATE = 3,
    TASK_BGM_SET_VOLUME = 4,
    TASK_BGM_SET_FILE = 5,
    // A call whose caller waits until it ran (callOnWorker).
    TASK_CALL = 6,
};

struct syncCall;

struct task {
    task* next;
    int32_t type;
    // Made current before every type but TASK_SET_OUTPUT_DEVICE.
    ALCcontext* context;
    union {
        uint32_t deviceIndex;
        bgmStream* stream;
        syncCall* call;
    } target;
    // Play: the loop flag in the low byte; volume: the percent; set file: the path from the tracking
    // allocator, freed once the task ran.
    uintptr_t argument;
};

// On the worker: opens the listed device of that name with the main and the BGM context.
void task_setOutputDevice(const char* name);
// On the worker, as it ends: destroys both contexts and closes the device.
void task_closeDevice();

// The context that the music streams' tasks run in; null while no device is open.
ALCcontext* getBGMContext();

} // namespace tavrix::sound

