#pragma once
// The sound worker's internals, shared by the sound module's files, the music stream and their tests.
#include <AL/alc.h>

#include <cstdint>

#include "client/sound.h"
#include "client/soundtasks.h"

namespace tavrix::util {
class thread;
}

namespace tavrix::sound {

// A task from the task pool, for pushTask, which must follow. Null, with a WARN, once the worker has
// stopped: the request then does nothing.
task* newTask();
// Appends the task to the worker's queue; the worker makes the context current before it runs the task.
void pushTask(ALCcontext* context, task* queued);
// What runs the music streams' tasks (stop to set file) on the worker: the streams install it before they
// queue their first task.
typedef void (*musicDispatch)(task* queued);
void setMusicDispatch(musicDispatch dispatch);
// Runs fn(arg) on the worker with the BGM context current and returns once it ran. While no worker runs
// (sound disabled, not started or stopped) fn runs at once on the calling thread, where no device is open.
// Never from the worker itself, which would wait for itself.
void callOnWorker(void (*fn)(void* arg), void* arg);

// The listed device at index; null past the end.
const char* getDeviceName(uint32_t index);

// The thread procedure of the "Sound Worker".
uint32_t worker(util::thread* self);

// Copies the names of an OpenAL device list (NUL-terminated names ended by an empty one) into an array
// from the tracking allocator; *names is null when the list holds none. Returns the count.
uint32_t _copyDeviceList(const char* list, char*** names);

} // namespace tavrix::sound
