#include "platformlib/util/workerstop.h"

#include "platformlib/posix/thread.h"

namespace tavrix::util {

namespace {
std::atomic<bool> anyLetGo{false};
} // namespace

bool stopWorkers(std::atomic<bool>* running, wakeWorkers wake, void* context, thread** workers, uint32_t count,
                 uint32_t milliseconds)
{
    if (running)
        running->store(false);
    if (!workers)
        return true;
    if (wake)
        wake(context);
    bool allEnded = true;
    for (uint32_t i = 0; i < count; ++i) {
        thread*& worker = workers[i];
        if (worker && worker->join(milliseconds) == JOIN_ENDED) {
            delete worker;
            worker = nullptr;
        }
        allEnded = allEnded && !worker;
    }
    return allEnded;
}

bool stopWorker(std::atomic<bool>* running, wakeWorkers wake, void* context, thread*& worker, uint32_t milliseconds)
{
    return stopWorkers(running, wake, context, worker ? &worker : nullptr, 1, milliseconds);
}

void letWorkerGo(thread*& worker)
{
    if (worker)
        anyLetGo.store(true);
    delete worker;
    worker = nullptr;
}

bool workerLeftBehind() { return anyLetGo.load(); }

} // namespace tavrix::util
