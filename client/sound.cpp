#include "client/soundlocal.h"

#include <AL/alc.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/pooltable.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::sound {

// Lives on the caller's stack until the worker marked it done.
struct syncCall {
    void (*fn)(void* arg);
    void* arg;
    bool done = false;
    util::mutex lock;
    util::condVar finished;
};

namespace {

constexpr uint32_t WORKER_WAIT_MS = 3000;
constexpr uint32_t WORKER_JOIN_MS = 6000;
// A request takes microseconds; the bound only matters for a caller preempted in the middle of one.
constexpr uint32_t REQUESTS_WAIT_MS = 500;
// sound.device is read into this many bytes, its NUL included.
constexpr uint32_t DEVICE_NAME_BUFFER = 255;

struct soundState {
    char** deviceNames = nullptr;
    uint32_t deviceCount = 0;
    uint8_t disabled = 0;

    util::taskQueue<task>* queue = nullptr;
    Pool<task>* taskPool = nullptr;
    util::thread* workerThread = nullptr;
    std::atomic<bool> running{false};
    // Requests from before their look at the running flag until their task is queued.
    std::atomic<int32_t> requestsUnderWay{0};
    std::atomic<musicDispatch> runMusicTask{nullptr};
};
soundState state;

int32_t findDevice(const char* name)
{
    for (uint32_t i = 0; i < state.deviceCount; ++i)
        if (std::strcmp(state.deviceNames[i], name) == 0)
            return int32_t(i);
    return -1;
}

void runCall(syncCall* call)
{
    call->fn(call->arg);
    // Signalled under the call's lock: its owner cannot leave, and free it, before the signal is out.
    std::lock_guard<util::mutex> guard(call->lock);
    call->done = true;
    call->finished.signal();
}

void runTask(task* queued)
{
    if (queued->type == TASK_CALL)
        // Resolved now: a call queued right after init runs after the device switch queued before it.
        alcMakeContextCurrent(getBGMContext());
    else if (queued->type != TASK_SET_OUTPUT_DEVICE)
        alcMakeContextCurrent(queued->context);
    switch (queued->type) {
    case TASK_SET_OUTPUT_DEVICE:
        task_setOutputDevice(getDeviceName(queued->target.deviceIndex));
        break;
    case TASK_BGM_STOP:
    case TASK_BGM_PLAY:
    case TASK_BGM_UPDATE:
    case TASK_BGM_SET_VOLUME:
    case TASK_BGM_SET_FILE:
        if (musicDispatch dispatch = state.runMusicTask.load())
            dispatch(queued);
        break;
    case TASK_CALL:
        runCall(queued->target.call);
        break;
    default:
        break;
    }
    state.taskPool->put(queued);
}

// After the worker ended: what it left queued is dropped, except calls, whose callers are waiting.
void dropQueue()
{
    while (task* queued = state.queue->take()) {
        if (queued->type == TASK_BGM_SET_FILE)
            rofree(reinterpret_cast<char*>(queued->argument));
        else if (queued->type == TASK_CALL)
            runCall(queued->target.call);
        state.taskPool->put(queued);
    }
}

// Either a request sees the running flag cleared, or final sees it counted (both sequentially consistent).
bool waitForRequests()
{
    const int32_t start = getTimeMs();
    while (state.requestsUnderWay.load() != 0) {
        if (msSince(start) >= int32_t(REQUESTS_WAIT_MS))
            return false;
        sys::yield();
    }
    return true;
}

// The requests under way are queued before the worker is woken; *context tells whether they all were.
void letRequestsInAndWake(void* context)
{
    *static_cast<bool*>(context) = waitForRequests();
    state.queue->wakeAll();
}

void freeDeviceList()
{
    for (uint32_t i = 0; i < state.deviceCount; ++i)
        rofree(state.deviceNames[i]);
    if (state.deviceNames)
        rofree(state.deviceNames);
    state.deviceNames = nullptr;
    state.deviceCount = 0;
}

} // namespace

uint32_t _copyDeviceList(const char* list, char*** names)
{
    uint32_t count = 0;
    for (const char* name = list; *name; name += std::strlen(name) + 1)
        ++count;
    *names = nullptr;
    if (count == 0)
        return 0;
    auto* copies = static_cast<char**>(roalloc(uint32_t(count * sizeof(char*))));
    uint32_t i = 0;
    for (const char* name = list; *name; name += std::strlen(name) + 1)
        copies[i++] = rostrdup(name);
    *names = copies;
    return count;
}

void init()
{
    CLIENT_LOG(util::LOG_INFO, "sound: Initialization\n");
    cvar::initialize("sound.frequency", 44100, 1);
    cvar::initialize("sound.refresh", 30, 1);
    state.deviceNames = nullptr;
    state.deviceCount = 0;
    state.disabled = 0;

    ALCenum listKind = 0;
    ALCenum defaultKind = 0;
    if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATE_ALL_EXT")) {
        listKind = ALC_ALL_DEVICES_SPECIFIER;
        defaultKind = ALC_DEFAULT_ALL_DEVICES_SPECIFIER;
    } else if (alcIsExtensionPresent(nullptr, "ALC_ENUMERATION_EXT")) {
        listKind = ALC_DEVICE_SPECIFIER;
        defaultKind = ALC_DEFAULT_DEVICE_SPECIFIER;
    }
    const char* list = listKind ? alcGetString(nullptr, listKind) : nullptr;
    const char* defaultName = nullptr;
    if (list) {
        // Copied before the default is asked for, which may enumerate again and replace the list.
        state.deviceCount = _copyDeviceList(list, &state.deviceNames);
        defaultName = alcGetString(nullptr, defaultKind);
        CLIENT_LOG(util::LOG_INFO, "sound: found %u output devices\n", state.deviceCount);
    } else {
        CLIENT_LOG(util::LOG_INFO, "NO Enum Support/ failed.\n");
    }
    if (state.deviceCount == 0) {
        CLIENT_LOG(util::LOG_INFO, "sound: no Output devices found - disabling sound.\n");
        state.disabled = 1;
        return;
    }
    if (!defaultName || !*defaultName) {
        CLIENT_LOG(util::LOG_INFO, "sound: could'nt determine default output device, using the first device\n");
        defaultName = state.deviceNames[0];
    }

    state.queue = new util::taskQueue<task>;
    state.taskPool = makePool<task>(pools::soundTask);
    state.running.store(true);
    state.workerThread = new util::thread("Sound Worker", worker, nullptr);

    cvar::initialize("sound.device", defaultName, 0, 1);
    char configured[DEVICE_NAME_BUFFER];
    uint32_t length = sizeof(configured);
    cvar::getStr("sound.device", configured, &length);
    if (findDevice(configured) >= 0) {
        setOutputDevice(configured);
    } else {
        CLIENT_LOG(util::LOG_INFO, "sound: Config value of 'sound.device' invalid, using System's default device\n");
        setOutputDevice(defaultName);
    }
}

bool stop()
{
    bool requestsDone = true;
    // A worker still running keeps its object for final to let go; the end without the shutdown only stops it.
    const bool ended = util::stopWorker(&state.running, letRequestsInAndWake, &requestsDone, state.workerThread, WORKER_JOIN_MS);
    return ended && requestsDone;
}

void final()
{
    if (state.disabled) {
        CLIENT_LOG(util::LOG_INFO, "sound: final - sound disabled - nothing to cleanup.\n");
        return;
    }
    const bool ended = stop();
    util::letWorkerGo(state.workerThread);
    // Kept for a worker still running, or a request still on its way: the device names, the task queue,
    // the task pool and the device the worker owns.
    if (!ended)
        return;
    freeDeviceList();
    if (!state.taskPool)
        return;
    dropQueue();
    delete state.taskPool;
    state.taskPool = nullptr;
    delete state.queue;
    state.queue = nullptr;
}

void setOutputDevice(const char* name)
{
    const int32_t index = findDevice(name);
    if (index < 0)
        return;
    task* queued = newTask();
    if (!queued)
        return;
    queued->type = TASK_SET_OUTPUT_DEVICE;
    queued->target.deviceIndex = uint32_t(index);
    queued->argument = 0;
    pushTask(nullptr, queued);
}

void setMusicDispatch(musicDispatch dispatch) { state.runMusicTask.store(dispatch); }

task* newTask()
{
    state.requestsUnderWay.fetch_add(1);
    if (!state.running.load()) {
        state.requestsUnderWay.fetch_sub(1);
        CLIENT_LOG(util::LOG_WARN, "sound::newTask() -> the sound worker is not running, request dropped\n");
        return nullptr;
    }
    return state.taskPool->get();
}

void pushTask(ALCcontext* context, task* queued)
{
    queued->context = context;
    state.queue->push(queued);
    state.requestsUnderWay.fetch_sub(1);
}

void callOnWorker(void (*fn)(void* arg), void* arg)
{
    if (!state.running.load()) {
        fn(arg);
        return;
    }
    syncCall call;
    call.fn = fn;
    call.arg = arg;
    task* queued = newTask();
    if (!queued) {
        fn(arg);
        return;
    }
    queued->type = TASK_CALL;
    queued->target.call = &call;
    queued->argument = 0;
    pushTask(nullptr, queued);
    std::lock_guard<util::mutex> guard(call.lock);
    while (!call.done)
        call.finished.wait(call.lock, WORKER_WAIT_MS);
}

const char* getDeviceName(uint32_t index) { return index < state.deviceCount ? state.deviceNames[index] : nullptr; }

uint32_t worker(util::thread*)
{
    CLIENT_LOG(util::LOG_INFO, "sound::worker - begin\n");
    while (state.running.load()) {
        while (task* queued = state.queue->take())
            runTask(queued);
        state.queue->waitWhileEmpty(state.running, WORKER_WAIT_MS);
    }
    task_closeDevice();
    CLIENT_LOG(util::LOG_INFO, "sound::worker - terminating\n");
    return 0;
}

} // namespace tavrix::sound
