#include "client/client.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>

#include "client/blocktyperegistry.h"
#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/debug.h"
#include "client/fscache.h"
#include "client/input.h"
#include "client/maintaskqueue.h"
#include "client/orderedasyncstartupmgr.h"
#include "client/rendermode.h"
#include "client/rmdownload.h"
#include "client/rmloadingscreen.h"
#include "client/sound.h"
#include "client/texturedecoder.h"
#include "client/texturemgr.h"
#include "client/timer.h"
#include "client/ui.h"
#include "client/vfs.h"
#include "client/vfshttplib.h"
#include "client/windowing.h"
#include "platformlib/platform.h"
#include "platformlib/posix/signals.h"
#include "platformlib/posix/sysinfo.h"
#include "platformlib/posix/thread.h"
#include "platformlib/posix/xdisplay.h"
#include "platformlib/util/exception.h"

using tavrix::util::LOG_ERROR;
using tavrix::util::LOG_INFO;
using tavrix::util::LOG_WARN;

namespace {

// Where the buffer swap does not wait for the display (a virtual display, or a driver that ignores the swap
// interval), the frame loop keeps to the display's refresh rate itself. Only the frame loop's thread
// touches it once the loop runs.
struct framePacer {
    bool swapIntervalAsked = false;
    double period = 0.0;      // seconds between the display's refreshes
    uint32_t quickFrames = 0; // frames in a row that ended well within a period
    uint32_t slowFrames = 0;  // while pacing: frames in a row that did not
    double nextFrame = 0.0;   // while pacing: when the next frame begins
};

struct clientState {
    int32_t perfTimerId = -1;
    tavrix::util::thread* renderThread = nullptr;
    // Written by the frame loop, read by the performance report on a timer worker.
    std::atomic<double> frameDelta{0.0};
    // The windowing library's time at the previous frame; only the frame loop's thread touches it.
    double lastFrameTime = 0.0;
    // Set by SIGTERM and SIGINT, which are held back until the window exists. A signal handler may not
    // call the windowing library, so the event loop waits with a time-out and turns the flag into a close
    // request itself.
    std::atomic<bool> closeSignalled{false};
    // Taken by the first thread that ends the process early.
    std::atomic_flag endingEarly = ATOMIC_FLAG_INIT;
    // Set once the shutdown begins to release the modules: what it finalised may be gone.
    std::atomic<bool> releasing{false};
    framePacer pacing;
};
clientState state;
static_assert(std::atomic<bool>::is_always_lock_free);
constexpr double EVENT_WAIT_SECONDS = 0.1;
// The render thread has left its loop once its running flag drops; this only bounds the last few steps.
constexpr uint32_t RENDER_THREAD_JOIN_MS = 5000;
// When no display tells its refresh rate.
constexpr int DEFAULT_REFRESH_HZ = 60;
// A swap that waits for the display keeps each frame close to a period long. Pacing starts after this
// many frames in a row under three quarters of one, and stops after as many in a row that are not.
constexpr uint32_t QUICK_FRAMES_BEFORE_PACING = 8;
constexpr double QUICK_FRAME_SHARE = 0.75;

extern "C" void onCloseSignal(int) { state.closeSignalled.store(true); }

void takeCloseSignal()
{
    if (state.closeSignalled.exchange(false))
        tavrix::client::requestClose();
}

void destroyWindow()
{
    glfwDestroyWindow(tavrix::client::window);
    tavrix::client::window = nullptr;
}

// The content update's reports go to the screens; its close request to the window. A content-store worker
// may still report (an emergency download of a late texture) while the client shuts down: once the
// screens are about to go, reports reach nothing, and close waits for a report under way.
class screenReports final : public tavrix::vfs::updateSink {
public:
    void setStatusText(screen on, const char* text, uint32_t length) override
    {
        whileOpen([&] {
            if (on == DOWNLOAD_SCREEN)
                tavrix::rmDownload::setStatusText(text, length);
            else
                tavrix::rmLoadingScreen::setStatusText(text, length);
        });
    }
    void setProgress(screen on, int32_t done, int32_t total) override
    {
        whileOpen([&] {
            if (on == DOWNLOAD_SCREEN)
                tavrix::rmDownload::setProgress(done, total);
            else
                tavrix::rmLoadingScreen::setProgress(done, total);
        });
    }
    void setURL(screen on, const char* url) override
    {
        whileOpen([&] {
            switch (on) {
            case LOADING_SCREEN:
                tavrix::rmLoadingScreen::setURL(url);
                break;
            case DOWNLOAD_SCREEN:
                tavrix::rmDownload::setURL(url);
                break;
            case MENU_SCREEN:
                tavrix::rmMenu::setURL(url);
                break;
            }
        });
    }
    int32_t showDownload() override
    {
        int32_t previous = tavrix::renderMode::MODE_DOWNLOAD;
        whileOpen([&] { previous = tavrix::renderMode::switchMode(tavrix::renderMode::MODE_DOWNLOAD); });
        return previous;
    }
    void leaveDownload(int32_t previous) override
    {
        whileOpen([&] { tavrix::renderMode::switchModeIfCurrent(tavrix::renderMode::MODE_DOWNLOAD, previous); });
    }
    void requestClose() override { tavrix::client::requestClose(); }

    // Set at start-up, cleared before the screens go; clearing waits for a report under way.
    void setOpen(bool value)
    {
        std::lock_guard<tavrix::util::mutex> held(lock);
        open = value;
    }

private:
    template <class Report>
    void whileOpen(Report&& report)
    {
        std::lock_guard<tavrix::util::mutex> held(lock);
        if (open)
            report();
    }

    tavrix::util::mutex lock;
    bool open = true;
};
screenReports reports;

const char* yesNo(bool value) { return value ? "Yes" : "no"; }

int32_t glInteger(GLenum name)
{
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

// Without a display that tells its size: the largest texture side OpenGL 2.1 drivers commonly take, as each
// screen's window is a texture of the window's size.
constexpr int32_t MAX_WINDOW_SIDE = 16384;

// The largest width and height that a connected display shows. The windowing library answers on the main
// thread only.
void largestDisplay(int32_t& width, int32_t& height)
{
    int count = 0;
    GLFWmonitor** monitors = glfwGetMonitors(&count);
    width = 0;
    height = 0;
    for (int i = 0; i < count; ++i)
        if (const GLFWvidmode* mode = glfwGetVideoMode(monitors[i])) {
            width = std::max(width, int32_t(mode->width));
            height = std::max(height, int32_t(mode->height));
        }
}

// A window side from ./cvar.db, within what the display and the driver can create: at least 1, at most the
// largest display's side. The setting itself stays as the user wrote it.
int32_t windowSide(const char* key, int32_t displaySide)
{
    const int32_t largest = displaySide > 0 ? displaySide : MAX_WINDOW_SIDE;
    const int64_t wanted = tavrix::cvar::getInt(key);
    const int32_t side = int32_t(std::clamp<int64_t>(wanted, 1, largest));
    if (side != wanted)
        CLIENT_LOG(LOG_WARN, "client::init() -> %s %" PRId64 " is no window size the display takes, using %d\n", key, wanted, side);
    return side;
}

void registerVariables()
{
    using tavrix::cvar::initialize;
    initialize("log.networkLogger.Enable", 0, 1);
    initialize("log.networkLogger.Server", "127.0.0.1", 0, 1);
    initialize("log.networkLogger.Port", 5555, 1);
    initialize("log.networkLogger.AppName", "client", 0, 1);
}

void registerVideoVariables()
{
    using tavrix::cvar::initialize;
    initialize("video.bpp", 32, 1);
    initialize("video.vsync", 1, 1);
    initialize("video.height", 1024, 1);
    initialize("video.width", 1280, 1);
    initialize("video.msaa", 0, 1);
    initialize("video.anisotropic_samples", 1.0, 1);
    initialize("video.redrawOnResize", 0, 1);
}

void hintMultisampling()
{
    const int32_t samples = tavrix::cvar::getI32("video.msaa");
    if (samples == 0)
        CLIENT_LOG(LOG_INFO, "No Multisampling (Anti Aliasing Disabled)\n");
    else
        CLIENT_LOG(LOG_INFO, "Multisampling Enabled: %u Samples\n", uint32_t(samples));
    glfwWindowHint(GLFW_SAMPLES, samples);
}

// The colour depth (16 or 32 bits) and an OpenGL 2.1 context, with debug output when asked for.
void hintContext(int32_t bpp)
{
    glfwWindowHint(GLFW_RED_BITS, bpp == 16 ? 5 : 8);
    glfwWindowHint(GLFW_GREEN_BITS, bpp == 16 ? 6 : 8);
    glfwWindowHint(GLFW_BLUE_BITS, bpp == 16 ? 5 : 8);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, 0);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);

    tavrix::cvar::initialize("debug.gl", 0, 1);
    if (tavrix::cvar::getI32("debug.gl") != 0)
        glfwWindowHint(GLFW_OPENGL_DEBUG_CONTEXT, 1);
}

void enableDebugOutput()
{
    if (GLEW_ARB_debug_output) {
        CLIENT_LOG(LOG_INFO, "Debug: Enabled GL Debug Output (ARB)\n");
        glDebugMessageControlARB(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
        glDebugMessageCallbackARB(tavrix::clientLogger::glDebugLogARB, nullptr);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS_ARB);
    } else if (GLEW_AMD_debug_output) {
        CLIENT_LOG(LOG_ERROR, "Debug: Request to enable GL DEBUGGING, but Driver has only support for AMD_debug_output - which is currently not supported.\n");
    }
}

void logVideoCard()
{
    const int32_t maxVertexUniforms = glInteger(GL_MAX_VERTEX_UNIFORM_COMPONENTS);
    const int32_t maxFragmentUniforms = glInteger(GL_MAX_FRAGMENT_UNIFORM_COMPONENTS);
    const int32_t textureUnits = glInteger(GL_MAX_TEXTURE_IMAGE_UNITS);
    const int32_t combinedUnits = glInteger(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS);
    const int32_t maxTexture = glInteger(GL_MAX_TEXTURE_SIZE);

    CLIENT_LOG(LOG_INFO, " ~ ~ ~ ~ ~ VIDEO  CARD ~ ~ ~ ~ ~\n");
    CLIENT_LOG(LOG_INFO, "Vendor: %s\n", reinterpret_cast<const char*>(glGetString(GL_VENDOR)));
    CLIENT_LOG(LOG_INFO, "Renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    CLIENT_LOG(LOG_INFO, "GL Version: %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    CLIENT_LOG(LOG_INFO, "GLSL Version: %s\n", reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION)));
    CLIENT_LOG(LOG_INFO, "Max Vertex Uniforms: %d\n", maxVertexUniforms);
    CLIENT_LOG(LOG_INFO, "Max Fragment Uniforms: %d\n", maxFragmentUniforms);
    CLIENT_LOG(LOG_INFO, "Supports UBO's: %s\n", yesNo(GLEW_ARB_uniform_buffer_object));
    CLIENT_LOG(LOG_INFO, "Supports Vertex Shader: %s\n", yesNo(GLEW_ARB_vertex_shader));
    CLIENT_LOG(LOG_INFO, "Supports Fragment Shader: %s\n", yesNo(GLEW_ARB_fragment_shader));
    CLIENT_LOG(LOG_INFO, "Max Texture Resolution: %ux%u\n", uint32_t(maxTexture), uint32_t(maxTexture));
    CLIENT_LOG(LOG_INFO, "Max TMU: %u combined(%u)\n", uint32_t(textureUnits), uint32_t(combinedUnits));
    if (GLEW_EXT_texture_filter_anisotropic) {
        GLfloat maxAnisotropy = 0.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
        CLIENT_LOG(LOG_INFO, "Anisotropic Texture Filtering is supported (up to %u samples)\n", uint32_t(maxAnisotropy));
    }
    if (GLEW_ARB_texture_compression)
        CLIENT_LOG(LOG_INFO, "Texture Compression is supported.\n");
    if (GLEW_EXT_texture_compression_s3tc)
        CLIENT_LOG(LOG_INFO, "EXT_texture_compression_s3tc is supported\n");
    CLIENT_LOG(LOG_INFO, " ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~ ~\n");
}

// OpenGL 2.1 with vertex and fragment shaders and vertex array objects (core from 3.0, an extension
// before, and their entry points loaded either way); otherwise the window goes and the start-up fails.
bool checkCapabilities()
{
    const char* missing = nullptr;
    if (!GLEW_VERSION_2_1)
        missing = "Your Graphics Hardware seems to have no support for OpenGL 2.1\n";
    else if (!GLEW_ARB_fragment_shader || !GLEW_ARB_vertex_shader)
        missing = "Your Graphics Hardware seems to have no support for Shaders\n";
    else if ((!GLEW_VERSION_3_0 && !GLEW_ARB_vertex_array_object) || !glGenVertexArrays || !glBindVertexArray)
        missing = "Your Graphics Hardware seems to have no support for Vertex Array Objects\n";
    if (!missing)
        return true;
    CLIENT_LOG(LOG_ERROR, "%s", missing);
    CLIENT_LOG(LOG_ERROR, "Maybe you can check for an Video Driver Upgrade\n");
    destroyWindow();
    return false;
}

void addStartupSteps()
{
    namespace startup = tavrix::orderedAsyncStartupMgr;
    startup::init();
    startup::setCloseAction(tavrix::client::requestClose);
    startup::add("VFS", tavrix::vfs::postInit);
    startup::add("TextureMgr", tavrix::textureMgr::loadDefaultTexture);
    startup::add("worldFactory", tavrix::worldFactory::init);
    startup::add("blockTypeRegistry", tavrix::blockTypeRegistry::init);
    startup::add("client", tavrix::client::startupStepClient);
}

// Frames per second for a frame delta: 0 before the first frame, never beyond a signed 32-bit value.
int32_t framesPerSecond(double delta)
{
    if (!(delta > 0.0))
        return 0;
    const double fps = 1.0 / delta;
    return fps >= double(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max() : int32_t(fps);
}

void updateFrameTime()
{
    const double now = glfwGetTime();
    state.frameDelta.store(now - state.lastFrameTime, std::memory_order_relaxed);
    state.lastFrameTime = now;
    // Through 64 bits: the stamp wraps after 24.8 days instead of overflowing the conversion.
    tavrix::client::setFrameTimeMs(int32_t(int64_t(now * 1000.0)));
}

void frame()
{
    updateFrameTime();
    tavrix::renderMode::draw();
    tavrix::mainTaskQueue::run();
}

// The fastest refresh rate of the connected displays, so that a window on any of them is never held back
// below its own. The windowing library answers on the main thread only.
double refreshPeriod()
{
    int count = 0;
    GLFWmonitor** monitors = glfwGetMonitors(&count);
    int fastest = 0;
    for (int i = 0; i < count; ++i)
        if (const GLFWvidmode* mode = glfwGetVideoMode(monitors[i]))
            fastest = std::max(fastest, mode->refreshRate);
    return 1.0 / (fastest > 0 ? fastest : DEFAULT_REFRESH_HZ);
}

void preparePacing()
{
    state.pacing.swapIntervalAsked = tavrix::cvar::getI32("video.vsync") != 0;
    state.pacing.period = refreshPeriod();
}

// After each frame: once frames keep ending well within a refresh period although the swap interval was
// asked for, the swap does not wait for the display, and the loop sleeps until the next period begins.
// One slow frame on a busy machine does not end the pacing; a swap that starts waiting for the display
// makes every frame slow. Without the swap interval frames run as fast as they come.
void paceFrame()
{
    framePacer& pacer = state.pacing;
    if (!pacer.swapIntervalAsked)
        return;
    const double now = glfwGetTime();
    const bool pacing = pacer.quickFrames == QUICK_FRAMES_BEFORE_PACING;
    if (now - state.lastFrameTime >= pacer.period * QUICK_FRAME_SHARE) {
        if (!pacing || ++pacer.slowFrames == QUICK_FRAMES_BEFORE_PACING) {
            pacer.quickFrames = 0;
            pacer.slowFrames = 0;
            return;
        }
    } else if (!pacing) {
        if (++pacer.quickFrames < QUICK_FRAMES_BEFORE_PACING)
            return;
        pacer.nextFrame = state.lastFrameTime;
    } else {
        pacer.slowFrames = 0;
    }
    // As a display refreshes: a frame that missed its period waits for the next one, and none comes early
    // to catch up.
    pacer.nextFrame += pacer.period;
    if (pacer.nextFrame <= now)
        pacer.nextFrame += (std::floor((now - pacer.nextFrame) / pacer.period) + 1.0) * pacer.period;
    tavrix::sys::sleepMs(uint32_t(std::lround((pacer.nextFrame - now) * 1000.0)));
}

// The start-up steps may have left Loading already; only a mode still at Loading is requested again.
void enterLoading() { tavrix::renderMode::switchModeIfCurrent(tavrix::renderMode::MODE_LOADING, tavrix::renderMode::MODE_LOADING); }

uint32_t renderThreadMain(tavrix::util::thread*)
{
    using tavrix::client::window;
    glfwMakeContextCurrent(window);
    tavrix::client::setupGLState();
    enterLoading();
    while (!glfwWindowShouldClose(window)) {
        frame();
        paceFrame();
    }
    tavrix::client::finalGLState();
    // The main thread destroys the window: the context must not stay current here.
    glfwMakeContextCurrent(nullptr);
    glfwPostEmptyEvent();
    return 0;
}

void runOnRenderThread()
{
    CLIENT_LOG(LOG_INFO, "Using Dedicated Render Thread\n");
    glfwMakeContextCurrent(nullptr);
    state.renderThread = new tavrix::util::thread("RenderThread", renderThreadMain, nullptr);
    // Window callbacks run here. The wait is bounded: the close flag can be set without a window event.
    while (state.renderThread->isRunning()) {
        glfwWaitEventsTimeout(EVENT_WAIT_SECONDS);
        tavrix::Input::applyInputMode();
        takeCloseSignal();
    }
    state.renderThread->join(RENDER_THREAD_JOIN_MS);
    delete state.renderThread;
    state.renderThread = nullptr;
    // For the shutdown steps that still release OpenGL objects.
    glfwMakeContextCurrent(tavrix::client::window);
}

void runInline()
{
    using tavrix::client::window;
    tavrix::client::setupGLState();
    enterLoading();
    while (!glfwWindowShouldClose(window)) {
        frame();
        glfwPollEvents();
        tavrix::Input::applyInputMode();
        takeCloseSignal();
        paceFrame();
    }
    tavrix::client::finalGLState();
}

// Only the first thread that ends the process early goes on; any other waits here for the end.
void takeTheEarlyEnd()
{
    if (state.endingEarly.test_and_set())
        for (;;)
            tavrix::sys::sleepMs(1000);
}

// Ends the process without the shutdown, for a state it cannot run in: nothing is released (a thread may
// still hold any lock or touch any module), the workers that can be stopped are, each join bounded, the
// settings are saved as they stand, and the logger is stopped so that the console hears the process go.
[[noreturn]] void endWithoutShutdown()
{
    if (!state.releasing) {
        tavrix::sound::stop();
        timer_stop();
        tavrix::vfs::stop();
    }
    tavrix::cvar::save();
    tavrix::client::destroyLogger(true);
    tavrix::sys::exitProcess(0);
}

// A start-up step still runs and may hold any lock or touch any module.
[[noreturn]] void endLeavingAStepBehind()
{
    takeTheEarlyEnd();
    CLIENT_LOG(LOG_WARN, "client::final() -> a start-up step is still running: the settings are saved and the process ends without its shutdown\n");
    endWithoutShutdown();
}

// Inside Xlib, on the thread whose request failed: the window may be gone, so the client closes through
// its own shutdown; the event loop turns the flag into the close request.
void onDisplayError(const char* text)
{
    CLIENT_LOG(LOG_ERROR, "client: X Error: %s - closing\n", text);
    state.closeSignalled.store(true);
}

// The display is gone with the window and its context: nothing the shutdown releases can be reached.
[[noreturn]] void onDisplayLost()
{
    takeTheEarlyEnd();
    CLIENT_LOG(LOG_ERROR, "client: the connection to the display is lost - the settings are saved and the process ends without its shutdown\n");
    // At the menu the executor has ended and is joined, as the shutdown would; a step still running is
    // left behind after the bound.
    if (!state.releasing)
        tavrix::orderedAsyncStartupMgr::cleanup();
    endWithoutShutdown();
}

void watchDisplay() { tavrix::sys::setDisplayErrorHandlers(onDisplayError, onDisplayLost); }

} // namespace

namespace tavrix::client {

bool init()
{
    CLIENT_LOG(LOG_INFO, "Tavrix - Initialization\n");
    CLIENT_LOG(LOG_INFO, "Version %s\n", platform_getVersionString());
    CLIENT_LOG(LOG_INFO, "DEBUG Build\n");
    watchDisplay();
    if (!cvar::init())
        return false;
    registerVariables();

    timer_init();
    reports.setOpen(true);
    vfs::setUpdateSink(&reports);
    vfs::init();
    fsCache::init();

    registerVideoVariables();
    int32_t displayWidth = 0;
    int32_t displayHeight = 0;
    largestDisplay(displayWidth, displayHeight);
    screenHeight = windowSide("video.height", displayHeight);
    screenWidth = windowSide("video.width", displayWidth);
    // Height first, as this line has always read: logs and their readers compare it as it stands.
    CLIENT_LOG(LOG_INFO, "Requested Resolution: %ux%u\n", uint32_t(screenHeight), uint32_t(screenWidth));
    hintMultisampling();
    const int32_t bpp = cvar::getI32("video.bpp");
    if (bpp != 16 && bpp != 32)
        TAVRIX_FATAL("Invalid Value for 'video.bpp' - Supported Values: 16,32 - got: %u\n", uint32_t(bpp));
    hintContext(bpp);

    window = glfwCreateWindow(screenWidth, screenHeight, "Tavrix!", nullptr, nullptr);
    watchDisplay();
    if (!window) {
        CLIENT_LOG(LOG_ERROR, "Cannot Create Main Window\n");
        return false;
    }
    glfwSetWindowSizeCallback(window, onResolutionChanged);
    glfwMakeContextCurrent(window);
    // A close request held back so far now has a window to close.
    sys::takeCloseSignals(onCloseSignal);

    cvar::initialize("gl.experimental", 0, 1);
    if (cvar::getI32("gl.experimental") != 0)
        glewExperimental = GL_TRUE;
    const GLenum glewError = glewInit();
    if (glewError != GLEW_OK) {
        destroyWindow();
        CLIENT_LOG(LOG_ERROR, "Cannot Initialize GLEW (OpenGL Extension Wrapper): [%u] - %s\n", uint32_t(glewError), reinterpret_cast<const char*>(glewGetErrorString(glewError)));
        return false;
    }
    if (cvar::getI32("debug.gl") != 0)
        enableDebugOutput();
    logVideoCard();
    maxTextureSize = glInteger(GL_MAX_TEXTURE_SIZE);
    if (maxTextureSize > 0)
        decoderMaxTextureSize = uint32_t(maxTextureSize);
    if (!checkCapabilities())
        return false;

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);

    mainTaskQueue::init();
    textureMgr::init();
    sound::init();
    Input::init(window);
    ui::init();
    renderMode::init();
    glfwSwapInterval(cvar::getI32("video.vsync") != 0 ? 1 : 0);

    addStartupSteps();
    state.perfTimerId = timer_add(1000, 334, perfReport, nullptr, nullptr);
    orderedAsyncStartupMgr::start();
    return true;
}

void run()
{
    cvar::initialize("core.useRenderThread", 1, 1);
    preparePacing();
    if (cvar::getBool("core.useRenderThread"))
        runOnRenderThread();
    else
        runInline();
}

void final()
{
    if (state.perfTimerId != -1) {
        timer_del(state.perfTimerId);
        state.perfTimerId = -1;
    }
    debug_logProcessMemoryStats();
    // A download under way would hold the start-up step that waits for it.
    vfsHttpLib::abortTransfers();
    if (!orderedAsyncStartupMgr::cleanup())
        endLeavingAStepBehind();
    state.releasing = true;
    blockTypeRegistry::final();
    worldFactory::final();
    reports.setOpen(false);
    renderMode::final();
    ui::final();
    Input::final();
    if (window)
        destroyWindow();
    sound::final();
    textureMgr::final();
    mainTaskQueue::final();
    vfs::final();
    fsCache::final();
    vfs::setUpdateSink(nullptr);
    cvar::final();
    timer_final();
}

void onResolutionChanged(GLFWwindow* changed, int, int)
{
    int width = 0;
    int height = 0;
    glfwGetWindowSize(changed, &width, &height);
    CLIENT_LOG(LOG_INFO, "client::onResolutionChange(%u, %u)\n", uint32_t(width), uint32_t(height));
    if (width == 0 && height == 0)
        return;
    if (width == screenWidth && height == screenHeight)
        return;
    mainTaskQueue::add(resulotionChangeTask, nullptr, 0, height, width);
}

void resulotionChangeTask(void*, int32_t, int32_t height, int32_t width)
{
    CLIENT_LOG(LOG_INFO, "client::resulotionChangeTask(%u, %u)\n", uint32_t(width), uint32_t(height));
    screenHeight = height;
    screenWidth = width;
    glViewport(0, 0, width, height);
    ui::onResolutionChange(width, height);
    if (cvar::getI32("video.redrawOnResize") == 1)
        CLIENT_LOG(LOG_INFO, "video.redrawOnResize: Not Supported.\n");
}

bool perfReport(int32_t, void*, void*)
{
    int32_t uiMs = ui::lastFrameMs.load();
    if (uiMs == 0)
        uiMs = 1;
    const uint32_t uiFps = 1000u / uint32_t(uiMs);
    getLogger()->sendPerf(getFrameTimeMs(), framesPerSecond(state.frameDelta.load(std::memory_order_relaxed)), int32_t(uiFps));
    return false;
}

void startupStepClient() { renderMode::switchMode(renderMode::MODE_MENU); }

void setupGLState()
{
    glClearColor(0.2f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
}

void finalGLState() {}

} // namespace tavrix::client
