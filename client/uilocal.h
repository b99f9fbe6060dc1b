#pragma once
// The user interface's state and records, its list operations, the worker, the clean-up run and the
// engine's loading, set-up and fonts, for its own files (ui, uiengine) and its tests.
#include <atomic>
#include <cstdint>
#include <exception>

#include <glm/mat4x4.hpp>

#include "client/ui.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/posix/thread.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/rbdb.h"

namespace eawebkit {
class Instance;
}

namespace tavrix {

class uiWebKitAllocator;
class uiWebKitClient;
class uiVFSTransportHandlerAssetScheme;

namespace r {
class Program;
class ProgramVar;
} // namespace r

namespace sys {
class dynLib;
}

namespace util {
class thread;
}

namespace ui {

struct wqElem {
    wqElem* next;
    workerTask fn;
    void* a;
    void* b;
    workerTask drop;
};

// A destroyed window on its way out: stage 0 releases the view and the OpenGL objects next, stage 1
// deletes the window.
struct wcElem {
    wcElem* next;
    int32_t stage;
    int32_t time; // tavrix::getTimeMs when queued
    uiWindow* window;
};

// Under the window-list lock.
void windowListInsert(uiWindow* window);
void windowListRemove(uiWindow* window);
// The frontmost window that takes input of the mask and is not hidden, and for the mouse holds the point
// (both edges inclusive); null when none does. Keyboard input goes to it wherever the point is.
uiWindow* findInputWindow(int32_t mask, int32_t x, int32_t y);
// The screen point in the window's pixels, within 0..width and 0..height.
void screenToWindow(uiWindow* window, int32_t x, int32_t y, int32_t* localX, int32_t* localY);

// The clean-up timer's callback; keeps the timer.
bool doWindowCleanUp(int32_t id, void* unused1, void* unused2);
uint32_t worker(util::thread* self);

// Test seam, before init: the engine comes from the factory instead of the library.
typedef eawebkit::Instance* (*engineFactory)();
void setEngineFactory(engineFactory factory);

// The started flag's states.
constexpr int32_t WORKER_STARTING = 0;
constexpr int32_t WORKER_READY = 1;
constexpr int32_t WORKER_FAILED = -1;

// The locks are static, so that a late post or clean-up run still finds them after final.
struct moduleState {
    std::atomic<bool> running{false};
    std::atomic<int32_t> started{WORKER_STARTING};
    // The worker's set-up failure, rethrown on the main thread.
    std::exception_ptr setupFailure;
    util::thread* worker = nullptr;
    // The worker's only: the faces (bit = family * 4 + style) that are not in the engine yet; of those, the
    // ones the content store lists but that did not load or that the engine refused, which the cycle leaves
    // to the try before a page load (a damaged file is not read, and its errors logged, four times a
    // second); and when the cycle last looked.
    uint32_t missingFaces = 0;
    uint32_t refusedFaces = 0;
    int32_t lastFontTry = 0;

    util::taskQueue<wqElem> queue;
    // Guards the queue's pool pointer: a post takes its record under it, so final cannot take the pool
    // away under a post. The worker returns records without it, while the pool cannot go.
    util::mutex queuePoolLock;
    Pool<wqElem>* queuePool = nullptr;

    util::mutex cleanupLock;
    wcElem* cleanupHead = nullptr;
    wcElem* cleanupTail = nullptr;
    Pool<wcElem>* cleanupPool = nullptr;
    // Held for a whole clean-up run: final waits on it for a run in flight.
    util::mutex cleanupRunLock;
    int32_t cleanupTimerId = -1;

    Pool<inputEvent>* inputPool = nullptr;

    // Guards the list, the focused window and the name table. Input, window creation and the close path
    // wait for it, so it is never held across a call into the engine.
    util::mutex listLock;
    uiWindow* head = nullptr;
    uiWindow* tail = nullptr;
    uiWindow* focused = nullptr;
    rbdb* windowNameDB = nullptr;
    // The worker's only: the windows of its pass over the list, taken under the list lock and updated
    // without it. Each stays alive through the pass: a window is deleted only after its view's release,
    // which is a task of the worker's own.
    uiWindow** pass = nullptr;
    uint32_t passCapacity = 0;

    sys::dynLib* library = nullptr;
    eawebkit::Instance* engine = nullptr;
    uiWebKitAllocator* allocator = nullptr;
    uiWebKitClient* client = nullptr;
    uiVFSTransportHandlerAssetScheme* transport = nullptr;
    engineFactory factory = nullptr;

    r::Program* program = nullptr;
    r::ProgramVar* mvp = nullptr;
    r::ProgramVar* windowPos = nullptr;
    r::ProgramVar* tex0 = nullptr;
    glm::mat4 projection{1.0f};
};
extern moduleState state;

// Due when at least `after` ms have passed since `time`, on a clock that wraps.
inline bool isDue(int32_t time, int32_t now, int32_t after) { return int32_t(uint32_t(now) - uint32_t(time)) >= after; }

// The engine's loading (main thread), its set-up (worker) and its release (main thread, after the worker).
void initEAWebkit();
void setUpEngine(eawebkit::Instance* engine);
void releaseEngine();
// The faces missing at the set-up that the content store has now: all of them before a page load, and on
// the worker's cycle, now and then, those the engine did not refuse.
void addMissingFonts();
void retryMissingFonts(int32_t now);

} // namespace ui
} // namespace tavrix
