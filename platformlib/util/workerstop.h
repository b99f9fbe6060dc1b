#pragma once
// The one way a module stops its workers: Linux cannot kill a thread safely, so a worker is asked to stop
// and joined with a bound, and one still running after it is left to end on its own. Its owner then keeps
// in place whatever that worker may still touch, and says what beside its call.
#include <atomic>
#include <cstdint>

namespace tavrix::util {

class thread;

// Ends the workers' idle waits: runs after the running flag is cleared, and only when there are workers.
typedef void (*wakeWorkers)(void* context);

// Clears `running` (null when the caller gave its workers the stop request itself), calls wake (may be
// null) and joins each worker in `workers` for at most `milliseconds`. A worker that ended is deleted and
// its slot cleared; one still running keeps its object and its slot. Returns whether every slot is clear;
// a null array is a module without workers (never started), and true.
bool stopWorkers(std::atomic<bool>* running, wakeWorkers wake, void* context, thread** workers, uint32_t count,
                 uint32_t milliseconds);

// As stopWorkers for one worker; a null worker is none.
bool stopWorker(std::atomic<bool>* running, wakeWorkers wake, void* context, thread*& worker, uint32_t milliseconds);

// Lets go of a worker that outlived its join: deleting its object detaches it (logged), and it ends on its
// own. Null after, as for a worker already stopped.
void letWorkerGo(thread*& worker);

// Whether any worker of the process was let go: the memory the modules keep for it must then outlive the
// platform library's final release, so the process ends without it.
bool workerLeftBehind();

} // namespace tavrix::util
