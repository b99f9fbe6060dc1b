#include "client/uilocal.h"

#include <GL/glew.h>

#include <glm/gtc/matrix_transform.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/maintaskqueue.h"
#include "client/r_program.h"
#include "client/r_programvar.h"
#include "client/timer.h"
#include "client/pooltable.h"
#include "client/uiwindow.h"
#include "client/windowing.h"
#include "platformlib/platform.h"
#include "platformlib/posix/sysinfo.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/format.h"
#include "platformlib/util/workerstop.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/rbdb.h"
#include "webengine/eawebkit.h"

namespace tavrix::ui {

std::atomic<int32_t> lastFrameMs{0};
moduleState state;

namespace {

constexpr char VERTEX_SOURCE[] = "#version 120\n// Attributes\nattribute vec2 texPos;\nattribute vec3 vtxPos;\n// OUT \n\nvarying vec2 texCoord;\n// Uniforms\nuniform vec3 WindowPos;\nuniform mat4 MVP;\n// main\nvoid main() {\n\ttexCoord = texPos;\n\tgl_Position =  MVP * vec4((WindowPos + vtxPos), 1);\n}\n";
constexpr char FRAGMENT_SOURCE[] = "#version 120\n\nvarying vec2 texCoord;\nuniform sampler2D tex0;\n\nvoid main() {\n\tgl_FragColor = texture2D(tex0, texCoord.st);// + vec4(1.0,0.0,0.0,1.0);\n}\n";

constexpr uint32_t STARTED_POLL_MS = 8;
// The engine's set-up reads twelve fonts and nothing else slow.
constexpr int32_t STARTED_LIMIT_MS = 30000;
constexpr uint32_t WORKER_JOIN_MS = 10000;
constexpr int32_t DEFAULT_FPS = 60;
constexpr int32_t MAX_FPS = 1000;
// Consecutive late cycles before each further one is reported.
constexpr uint32_t LATE_CYCLES_TOLERATED = 20;

void returnInputEvent(inputEvent* event) { state.inputPool->put(event); }

// What the windows ask of the interface.
class windowHost final : public uiWindowHost {
public:
    void postTask(uiTask fn, void* a, void* b, uiTask drop) override { ui::postTask(fn, a, b, drop); }
    bool isFocusedWindow(uiWindow* window) override { return ui::isFocusedWindow(window); }
    void windowListReinsert(uiWindow* window) override { ui::windowListReinsert(window); }
    eawebkit::Instance* engine() override { return state.engine; }
    void addMissingFonts() override { ui::addMissingFonts(); }
    r::Program* program() override { return state.program; }
    void setFocus(uiWindow* window) override { ui::setFocus(window); }
    void releaseInputEvent(inputEvent* event) override { returnInputEvent(event); }
};
windowHost host;

// ---------------------------------------------------------------------------------------------------
// The worker queue.

void runTasks()
{
    while (wqElem* task = state.queue.take()) {
        task->fn(task->a, task->b);
        state.queuePool->put(task);
    }
}

// After the worker ended: every queued task is freed unrun, and the pool goes with the queue.
void dropTasks()
{
    wqElem* dropped;
    Pool<wqElem>* pool;
    {
        std::lock_guard<util::mutex> guard(state.queuePoolLock);
        dropped = state.queue.takeAll();
        pool = state.queuePool;
        state.queuePool = nullptr;
    }
    while (dropped) {
        wqElem* next = dropped->next;
        if (dropped->drop)
            dropped->drop(dropped->a, dropped->b);
        pool->put(dropped);
        dropped = next;
    }
    delete pool;
}

int32_t readUpdateFPS()
{
    cvar::initialize("ui.updateFPS", DEFAULT_FPS, 1);
    const int32_t fps = cvar::getI32("ui.updateFPS");
    if (fps > 0 && fps <= MAX_FPS)
        return fps;
    CLIENT_LOG(util::LOG_WARN, "ui::worker - ui.updateFPS %d is out of range (1 to %d), using %d\n", fps, MAX_FPS, DEFAULT_FPS);
    return DEFAULT_FPS;
}

const char* messageOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (util::Exception* e) {
        return e->getMessage();
    } catch (...) {
    }
    return "unknown failure";
}

// ---------------------------------------------------------------------------------------------------
// The worker's cycle.

// Rows packed at `row` bytes from rows `stride` apart. Packed rows are one copy: a block that large the
// library moves with the processor's string instructions, faster than a copy a row.
void copyRows(uint8_t* to, const uint8_t* from, size_t row, size_t stride, size_t rows)
{
    if (stride == row) {
        std::memcpy(to, from, row * rows);
        return;
    }
    for (size_t y = 0; y < rows; ++y)
        std::memcpy(to + y * row, from + y * stride, row);
}

// Copies the view's surface into the window's pixels when it has a new image. A copy that cannot be made
// now (the OpenGL thread holds the pixels, or a resize has not reached the view yet) is made next cycle.
void copySurface(uiWindow* window)
{
    eawebkit::Surface* surface = window->view->GetSurface();
    if (!surface || !surface->IsAllocated())
        return;
    eawebkit::SurfaceDescriptor descriptor{};
    surface->Lock(&descriptor, nullptr);
    window->repaint.store(0);
    const int32_t surfaceWidth = surface->GetContentWidth();
    const int32_t surfaceHeight = surface->GetContentHeight();
    if (surfaceWidth != window->viewWidth || surfaceHeight != window->viewHeight) {
        surface->Unlock();
        TAVRIX_FATAL("Surface size does'nt match uiWindow's size! SF(%ux%u) uiWnd(%ux%u)\n", uint32_t(surfaceWidth), uint32_t(surfaceHeight), uint32_t(window->viewWidth), uint32_t(window->viewHeight));
    }
    bool copied = false;
    if (window->pixelLock.tryLock()) {
        const bool fits = int64_t(surfaceWidth) * surfaceHeight <= int64_t(window->capW) * window->capH;
        if (window->width == surfaceWidth && window->height == surfaceHeight && fits) {
            copyRows(window->pixels, static_cast<const uint8_t*>(descriptor.pixels), size_t(surfaceWidth) * 4,
                     size_t(descriptor.stride), size_t(surfaceHeight));
            window->imageWidth = surfaceWidth;
            window->imageHeight = surfaceHeight;
            window->newPixels.store(1);
            copied = true;
        }
        window->pixelLock.unlock();
    }
    surface->Unlock();
    if (!copied)
        window->repaint.store(1);
}

// The listed windows in list order into the pass; their count.
uint32_t takePass()
{
    std::lock_guard<util::mutex> guard(state.listLock);
    uint32_t count = 0;
    for (uiWindow* window = state.head; window; window = window->next)
        ++count;
    if (count > state.passCapacity) {
        state.passCapacity = count;
        state.pass = static_cast<uiWindow**>(rorealloc(state.pass, count * uint32_t(sizeof(uiWindow*))));
    }
    uint32_t taken = 0;
    for (uiWindow* window = state.head; window; window = window->next)
        state.pass[taken++] = window;
    return count;
}

// A view's update may take long (a page being built): a window destroyed meanwhile is passed over, and
// a shutdown ends the pass.
void updateViews()
{
    const uint32_t count = takePass();
    for (uint32_t i = 0; i < count && state.running.load(); ++i) {
        uiWindow* window = state.pass[i];
        if (!window->view || window->closing.load() == 1)
            continue;
        window->view->Update(0);
        if (window->repaint.load() == 1)
            copySurface(window);
    }
}

void runCycles(int32_t fps)
{
    const int32_t frameMs = 1000 / fps;
    uint32_t late = 0;
    while (state.running.load()) {
        const int32_t cycleStart = getTimeMs();
        runTasks();
        retryMissingFonts(cycleStart);
        state.engine->Tick();
        updateViews();
        const int32_t elapsed = msSince(cycleStart);
        if (elapsed < frameMs) {
            late = 0;
            state.queue.waitWhileEmpty(state.running, uint32_t(frameMs - elapsed));
        } else {
            if (++late > LATE_CYCLES_TOLERATED)
                CLIENT_LOG(util::LOG_WARN, "ui::worker - can't keep up the desired update rate of %u FPS (since %u fps)\n", uint32_t(fps), late);
            sys::yield();
        }
        lastFrameMs.store(msSince(cycleStart));
    }
}

// ---------------------------------------------------------------------------------------------------
// The clean-up queue.

void appendCleanup(int32_t stage, int32_t time, uiWindow* window)
{
    wcElem* record = state.cleanupPool->get();
    *record = wcElem{nullptr, stage, time, window};
    std::lock_guard<util::mutex> guard(state.cleanupLock);
    if (state.cleanupTail)
        state.cleanupTail->next = record;
    else
        state.cleanupHead = record;
    state.cleanupTail = record;
}

// Records whose windows still wait for their first stage's tasks, back at the head of the queue in their
// order: no record there is older.
void requeueCleanups(wcElem* first, wcElem* last)
{
    std::lock_guard<util::mutex> guard(state.cleanupLock);
    last->next = state.cleanupHead;
    state.cleanupHead = first;
    if (!state.cleanupTail)
        state.cleanupTail = last;
}

// The longest due prefix of the queue, taken off it.
wcElem* takeDueCleanups(int32_t now, int32_t stepAfter)
{
    std::lock_guard<util::mutex> guard(state.cleanupLock);
    wcElem* first = state.cleanupHead;
    wcElem* last = nullptr;
    for (wcElem* record = first; record && isDue(record->time, now, stepAfter); record = record->next)
        last = record;
    if (!last)
        return nullptr;
    state.cleanupHead = last->next;
    if (!state.cleanupHead)
        state.cleanupTail = nullptr;
    last->next = nullptr;
    return first;
}

void deleteWindow(uiWindow* window)
{
    uiWindow::taskGLCleanup(window, 0, 0, 0);
    delete window;
}

void shutDownWindows()
{
    wcElem* record;
    {
        std::lock_guard<util::mutex> guard(state.cleanupLock);
        record = state.cleanupHead;
        state.cleanupHead = nullptr;
        state.cleanupTail = nullptr;
    }
    while (record) {
        wcElem* next = record->next;
        deleteWindow(record->window);
        state.cleanupPool->put(record);
        record = next;
    }
    std::lock_guard<util::mutex> guard(state.listLock);
    for (uiWindow* window = state.head; window;) {
        uiWindow* next = window->next;
        deleteWindow(window);
        window = next;
    }
    state.head = nullptr;
    state.tail = nullptr;
    state.focused = nullptr;
}

void releasePass()
{
    if (state.pass)
        rofree(state.pass);
    state.pass = nullptr;
    state.passCapacity = 0;
}

void destroyWindowNameDB()
{
    std::lock_guard<util::mutex> guard(state.listLock);
    if (state.windowNameDB)
        db_destroy(state.windowNameDB);
    state.windowNameDB = nullptr;
}

void unlinkWindow(uiWindow* window)
{
    if (window->prev)
        window->prev->next = window->next;
    else
        state.head = window->next;
    if (window->next)
        window->next->prev = window->prev;
    else
        state.tail = window->prev;
    window->next = nullptr;
    window->prev = nullptr;
}

// The first free "name.n" for a name that is taken.
void makeNameUnique(uiWindow* window)
{
    if (!strdb_fetch(state.windowNameDB, window->name, 0))
        return;
    const size_t size = std::strlen(window->name) + 12;
    char* candidate = static_cast<char*>(roalloc(uint32_t(size)));
    for (uint32_t n = 1;; ++n) {
        std::snprintf(candidate, size, "%s.%u", window->name, n);
        if (!strdb_fetch(state.windowNameDB, candidate, 0))
            break;
    }
    window->renameWindow(candidate);
    rofree(candidate);
}

// ---------------------------------------------------------------------------------------------------
// Input, on the thread that processes the window's events.

// A record still queued when the worker stops goes back unsent.
void dropInputEvent(void*, void* event) { returnInputEvent(static_cast<inputEvent*>(event)); }

// Under the window-list lock, which keeps the window listed and the pool in place until the post.
void postInput(uiWindow* window, const inputEvent& event)
{
    inputEvent* record = state.inputPool->get();
    *record = event;
    postTask(uiWindow::awesomiumOnInputEventTask, window, record, dropInputEvent);
}

// Wheel, button and move: to the window under the point, with the point in its pixels as a and b unless
// the event brings its own.
void postPointerInput(int32_t x, int32_t y, inputEvent event, bool atPoint)
{
    if (!state.running.load())
        return;
    std::lock_guard<util::mutex> guard(state.listLock);
    uiWindow* window = findInputWindow(INPUT_MOUSE, x, y);
    if (!window)
        return;
    if (atPoint)
        screenToWindow(window, x, y, &event.a, &event.b);
    postInput(window, event);
}

void postKeyboardInput(const inputEvent& event)
{
    if (!state.running.load())
        return;
    std::lock_guard<util::mutex> guard(state.listLock);
    if (uiWindow* window = findInputWindow(INPUT_KEYBOARD, 0, 0))
        postInput(window, event);
}

// Under the window's lock; in 64 bits, as a window may reach to the end of the coordinates.
bool holdsPoint(uiWindow* window, int32_t x, int32_t y)
{
    return x >= window->x && int64_t(x) <= int64_t(window->x) + window->width && y >= window->y &&
           int64_t(y) <= int64_t(window->y) + window->height;
}

int32_t clampedOffset(int32_t point, int32_t origin, int32_t size)
{
    const int64_t offset = int64_t(point) - origin;
    return offset < 0 ? 0 : offset > size ? size : int32_t(offset);
}

void requireRunning(const char* operation)
{
    if (!state.running.load())
        TAVRIX_FATAL("ui::%s() -> while the UI is not initialized!\n", operation);
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void setEngineFactory(engineFactory factory) { state.factory = factory; }

void init()
{
    state.running.store(true);
    uiWindow::setHost(&host);
    state.started.store(WORKER_STARTING);
    state.setupFailure = nullptr;
    {
        std::lock_guard<util::mutex> guard(state.queuePoolLock);
        state.queue.takeAll();
        state.queuePool = makePool<wqElem>(pools::uiWorkerQueueElem);
    }
    state.cleanupHead = nullptr;
    state.cleanupTail = nullptr;
    state.cleanupPool = makePool<wcElem>(pools::uiWindowCleanupQueueElem);
    cvar::initialize("ui.windowCleanup.gcInterval", 11000, 1);
    cvar::initialize("ui.windowCleanup.gcStepAfter", 30000, 1);
    const int32_t interval = cvar::getI32("ui.windowCleanup.gcInterval");
    {
        // A run that comes due at once waits here for the id it checks.
        std::lock_guard<util::mutex> guard(state.cleanupRunLock);
        state.cleanupTimerId = timer_add(getTimeMs() + interval, interval, doWindowCleanUp, nullptr, nullptr);
    }
    state.inputPool = makePool<inputEvent>(pools::uiInputEvent);
    {
        std::lock_guard<util::mutex> guard(state.listLock);
        state.head = nullptr;
        state.tail = nullptr;
        state.focused = nullptr;
        state.windowNameDB = strdb_create("windowNameDB", 0, 1, 64, nullptr, nullptr, nullptr);
    }

    state.program = new r::Program("ui", VERTEX_SOURCE, FRAGMENT_SOURCE);
    state.mvp = new r::ProgramVar(state.program, r::MAT4, "MVP");
    state.windowPos = new r::ProgramVar(state.program, r::VEC3, "WindowPos");
    state.tex0 = new r::ProgramVar(state.program, r::SAMPLER2D, "tex0");
    onResolutionChange(client::screenWidth.load(), client::screenHeight.load());

    initEAWebkit();
    state.worker = new util::thread("UI Worker", worker, nullptr);
    const int32_t start = getTimeMs();
    while (state.started.load() == WORKER_STARTING && msSince(start) < STARTED_LIMIT_MS)
        sys::sleepMs(STARTED_POLL_MS);
    if (state.started.load() == WORKER_FAILED) {
        state.worker->join(WORKER_JOIN_MS);
        delete state.worker;
        state.worker = nullptr;
        std::rethrow_exception(state.setupFailure);
    }
    if (state.started.load() != WORKER_READY)
        TAVRIX_FATAL("ui::init() -> the UI Worker did not set the engine up within %d ms\n", STARTED_LIMIT_MS);
}

uint32_t worker(util::thread*)
{
    int32_t fps;
    try {
        fps = readUpdateFPS();
        setUpEngine(state.engine);
    } catch (...) {
        state.setupFailure = std::current_exception();
        CLIENT_LOG(util::LOG_ERROR, "ui::worker - engine set-up failed: %s\n", messageOf(state.setupFailure));
        state.started.store(WORKER_FAILED);
        return 1;
    }
    state.started.store(WORKER_READY);
    runCycles(fps);
    CLIENT_LOG(util::LOG_INFO, "ui::worker - m_running = 0\n");
    state.engine->Shutdown();
    return 0;
}

namespace {

// After the running flag is cleared, before the join.
void announceAndWake(void*)
{
    CLIENT_LOG(util::LOG_INFO, "ui::final - terminating UI Worker\n");
    state.queue.wakeAll();
}

} // namespace

// A worker that outlives its join keeps the engine, its library, the windows, the queues and the windows'
// host (with the program they draw with) that it may still touch.
void final()
{
    const bool workerStarted = state.worker != nullptr;
    const bool workerEnded = util::stopWorker(&state.running, announceAndWake, nullptr, state.worker, WORKER_JOIN_MS);
    if (!workerEnded) {
        CLIENT_LOG(util::LOG_ERROR, "ui::final - the UI Worker did not end: the engine, its library and the windows are left in place\n");
        util::letWorkerGo(state.worker);
    }
    if (workerStarted)
        CLIENT_LOG(util::LOG_INFO, "ui::final - finalization done.\n");
    if (workerEnded)
        releaseEngine();
    {
        std::lock_guard<util::mutex> guard(state.cleanupRunLock);
        if (state.cleanupTimerId != -1)
            timer_del(state.cleanupTimerId);
        state.cleanupTimerId = -1;
    }
    if (workerEnded) {
        destroyWindowNameDB();
        if (state.cleanupPool)
            shutDownWindows();
        releasePass();
        dropTasks();
        delete state.cleanupPool;
        state.cleanupPool = nullptr;
        delete state.inputPool;
        state.inputPool = nullptr;
        delete state.windowPos;
        delete state.mvp;
        delete state.tex0;
        delete state.program;
        uiWindow::setHost(nullptr);
        state.windowPos = nullptr;
        state.mvp = nullptr;
        state.tex0 = nullptr;
        state.program = nullptr;
    }
}

void postTask(workerTask fn, void* a, void* b, workerTask drop)
{
    {
        std::lock_guard<util::mutex> guard(state.queuePoolLock);
        if (state.queuePool) {
            wqElem* task = state.queuePool->get();
            *task = wqElem{nullptr, fn, a, b, drop};
            state.queue.push(task);
            return;
        }
    }
    CLIENT_LOG(util::LOG_WARN, "ui::postTask() - the UI is not running, task dropped\n");
    if (drop)
        drop(a, b);
}

uiWindow* createWindow(const char* name, const char* url, int32_t x, int32_t y, int32_t width, int32_t height,
                       bool hidden)
{
    requireRunning("createWindow");
    uiWindow* window = new uiWindow(name, url, width, height, x, y, hidden);
    {
        std::lock_guard<util::mutex> guard(state.listLock);
        windowListInsert(window);
    }
    window->start();
    return window;
}

void destroyWindow(uiWindow* window)
{
    requireRunning("destroyWindow");
    {
        std::lock_guard<util::mutex> guard(state.listLock);
        windowListRemove(window);
    }
    window->closing.store(1);
    appendCleanup(0, getTimeMs(), window);
}

void windowListInsert(uiWindow* window)
{
    uiWindow* before = state.head;
    while (before && before->alwaysOnTop.load() == 1)
        before = before->next;
    window->next = before;
    window->prev = before ? before->prev : state.tail;
    if (window->prev)
        window->prev->next = window;
    else
        state.head = window;
    if (before)
        before->prev = window;
    else
        state.tail = window;
    makeNameUnique(window);
    strdb_insert(state.windowNameDB, window->name, 0, window);
}

void windowListRemove(uiWindow* window)
{
    auto* removed = static_cast<uiWindow*>(strdb_delete(state.windowNameDB, window->name, 0));
    if (removed != window)
        TAVRIX_FATAL("ui::windowListRemove('%s') - tried to delete window from wndNameDB, got different result! (got: '%s')\nwnd(" TAVRIX_PTR ") != old(" TAVRIX_PTR ")",
                     window->name, removed ? removed->name : "", util::ptrArg(window), util::ptrArg(removed));
    unlinkWindow(window);
    if (state.focused == window)
        state.focused = nullptr;
}

void windowListReinsert(uiWindow* window)
{
    std::lock_guard<util::mutex> guard(state.listLock);
    if (!window->next && !window->prev)
        return;
    windowListRemove(window);
    windowListInsert(window);
}

void setFocus(uiWindow* window)
{
    std::lock_guard<util::mutex> guard(state.listLock);
    if (state.focused == window)
        return;
    if (state.focused)
        postTask(uiWindow::taskFocusOut, state.focused, nullptr);
    postTask(uiWindow::taskFocusIn, window, nullptr);
    state.focused = window;
}

void refocus()
{
    if (!state.running.load())
        return;
    std::lock_guard<util::mutex> guard(state.listLock);
    if (state.focused)
        postTask(uiWindow::taskFocusIn, state.focused, nullptr);
}

bool isFocusedWindow(uiWindow* window)
{
    std::lock_guard<util::mutex> guard(state.listLock);
    return state.focused == window;
}

void setWindowInputMask(uiWindow* window, int32_t mask)
{
    std::lock_guard<util::mutex> guard(window->windowLock);
    window->inputMask.store(mask);
}

void clearWindowInputMask(uiWindow* window) { setWindowInputMask(window, 0); }

bool doWindowCleanUp(int32_t, void*, void*)
{
    std::lock_guard<util::mutex> run(state.cleanupRunLock);
    if (state.cleanupTimerId == -1)
        return false;
    const int32_t stepAfter = cvar::getI32("ui.windowCleanup.gcStepAfter");
    const int32_t now = getTimeMs();
    wcElem* record = takeDueCleanups(now, stepAfter);
    wcElem* waitingHead = nullptr;
    wcElem* waitingTail = nullptr;
    while (record) {
        wcElem* next = record->next;
        if (!isDue(record->time, now, stepAfter))
            TAVRIX_FATAL("BUG!\nui::doWindowCleanup() - CHECK / SEARCH FOR THIS STRING.");
        if (record->stage == 0) {
            postTask(uiWindow::taskReleaseView, record->window, nullptr);
            mainTaskQueue::add(uiWindow::taskGLCleanup, record->window, 0, 0, 0);
            appendCleanup(1, now, record->window);
        } else if (record->window->viewReleased.load() != 1 || record->window->glReleased.load() != 1) {
            // A stalled worker or frame loop has not run them yet: the window waits for a later run.
            record->next = nullptr;
            if (waitingTail)
                waitingTail->next = record;
            else
                waitingHead = record;
            waitingTail = record;
            record = next;
            continue;
        } else {
            delete record->window;
        }
        state.cleanupPool->put(record);
        record = next;
    }
    if (waitingHead)
        requeueCleanups(waitingHead, waitingTail);
    return false;
}

void onResolutionChange(int32_t width, int32_t height)
{
    state.projection = glm::ortho(0.0f, float(width), float(height), 0.0f, -1.0f, 1.0f);
    r::useProgram(state.program);
    state.mvp->setMat4(state.projection);
    state.tex0->setInt(0);
    {
        std::lock_guard<util::mutex> guard(state.listLock);
        for (uiWindow* window = state.head; window; window = window->next)
            if (window->fitToScreen.load() == 1)
                window->resize(width, height);
    }
    CLIENT_LOG(util::LOG_INFO, "ui::onResolutionChange(%u, %u)\n", uint32_t(width), uint32_t(height));
}

void drawWindow(uiWindow* window)
{
    if (window->initCount.load() != 3)
        return;
    r::useProgram(state.program);
    std::lock_guard<util::mutex> guard(window->windowLock);
    state.windowPos->setVec3(glm::vec3(float(window->x), float(window->y), 0.0f));
    window->prepareDraw();
    window->drawQuad();
}

uiWindow* findInputWindow(int32_t mask, int32_t x, int32_t y)
{
    for (uiWindow* window = state.head; window; window = window->next) {
        if (!(window->inputMask.load() & mask) || window->hidden.load() == 1)
            continue;
        if (!(mask & INPUT_MOUSE))
            return window;
        std::lock_guard<util::mutex> guard(window->windowLock);
        if (holdsPoint(window, x, y))
            return window;
    }
    return nullptr;
}

void screenToWindow(uiWindow* window, int32_t x, int32_t y, int32_t* localX, int32_t* localY)
{
    std::lock_guard<util::mutex> guard(window->windowLock);
    *localX = clampedOffset(x, window->x, window->width);
    *localY = clampedOffset(y, window->y, window->height);
}

void onScroll(int32_t x, int32_t y, int32_t xOffset, int32_t yOffset)
{
    postPointerInput(x, y, {INPUT_WHEEL, xOffset, yOffset, 0, 0}, false);
}

void onMouseButton(int32_t x, int32_t y, int32_t button, int32_t action)
{
    postPointerInput(x, y, {INPUT_BUTTON, 0, 0, button, action}, true);
}

void onCursorMove(int32_t x, int32_t y) { postPointerInput(x, y, {INPUT_MOVE, 0, 0, 0, 0}, true); }

void onKey(int32_t key, int32_t scancode, int32_t action, int32_t modifiers)
{
    postKeyboardInput({INPUT_KEY, key, scancode, action, modifiers});
}

void onCharInput(uint32_t codePoint) { postKeyboardInput({INPUT_CHARACTER, int32_t(codePoint), 0, 0, 0}); }

void onInputType5(int32_t first, int32_t second, int32_t third)
{
    postKeyboardInput({INPUT_WIN32_KEY, first, second, third, 0});
}

const char* getUserAgent()
{
    static char agent[512];
    static std::once_flag built;
    std::call_once(built, [] {
        sys::osVersion version;
        sys::queryOSVersion(&version);
        char os[256];
        std::snprintf(os, sizeof(os), "Linux %u.%u Build %u", version.major, version.minor, version.build);
        std::snprintf(agent, sizeof(agent), "Mozilla/5.0 (%s) AppleWebkit/535.3 (KHTML, like Gecko) Safari/535.3 Tavrix/%u.%u.%s-%s (Build %u%s)",
                      os, 1u, 0u, "0", "feature/EAWebKit", uint32_t(platform_getBuildNumber()), "; Debug");
    });
    return agent;
}

} // namespace tavrix::ui
