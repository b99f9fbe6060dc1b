#pragma once
// One HTML window: an engine view rendered off-screen, the pixel buffer the UI Worker copies the view's
// surface into, and the OpenGL texture the OpenGL thread draws as a quad. Engine work runs as tasks on
// the UI Worker, OpenGL work as main tasks or inside the draw.
#include <atomic>
#include <cstdint>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/thread.h"

namespace eawebkit {
class View;
}

namespace eawebkit {
class Instance;
}

namespace tavrix {

namespace r {
class Buffer;
class Program;
class ProgramAttribs;
} // namespace r

class uiWindow;

// A task for the UI Worker: fn(a, b).
typedef void (*uiTask)(void* a, void* b);

namespace ui {

// One input for one window, from the input entry points to the UI Worker: a record of "inputEventPool".
struct inputEvent {
    int32_t type;
    int32_t a;
    int32_t b;
    int32_t c;
    int32_t d;
};

// The types, with what a, b, c and d carry.
enum inputEventType : int32_t {
    INPUT_WHEEL = 0,     // x offset, y offset
    INPUT_BUTTON = 1,    // window-local x, y, button, action
    INPUT_MOVE = 2,      // window-local x, y
    INPUT_KEY = 3,       // key, scancode, action, modifier bits
    INPUT_CHARACTER = 4, // code point
    INPUT_WIN32_KEY = 5, // three values
};

// A window's input mask: what it receives.
enum inputMaskBit : int32_t {
    INPUT_KEYBOARD = 1, // key, character, Win32 key
    INPUT_MOUSE = 2,    // wheel, button, move
};

} // namespace ui

// The windowing library's key code as a Windows virtual-key code; 0 for a key without one.
uint32_t uiTranslateGlfwKey(int32_t key);

// What a window asks of the user interface that lists it, which installs itself as the windows' host at
// its start.
class uiWindowHost {
public:
    // Queues fn(a, b) for the UI Worker; drop, when given, frees what the task owns if it never runs.
    virtual void postTask(uiTask fn, void* a, void* b, uiTask drop) = 0;
    virtual bool isFocusedWindow(uiWindow* window) = 0;
    virtual void windowListReinsert(uiWindow* window) = 0;
    // UI Worker only; before a view loads an address, the faces the engine's set-up could not add are
    // tried again.
    virtual eawebkit::Instance* engine() = 0;
    virtual void addMissingFonts() = 0;
    // OpenGL thread: the program that draws the windows.
    virtual r::Program* program() = 0;
    virtual void setFocus(uiWindow* window) = 0;
    // An input record back to its pool, once delivered or dropped.
    virtual void releaseInputEvent(ui::inputEvent* event) = 0;

protected:
    ~uiWindowHost() = default;
};

class uiWindow : public roAlloc {
public:
    // Null uninstalls.
    static void setHost(uiWindowHost* host);

    // Only tavrix::ui::createWindow constructs, and only the UI's clean-up deletes, after the view has
    // been released and the OpenGL objects deleted.
    uiWindow(const char* name, const char* page, int32_t width, int32_t height, int32_t x, int32_t y, bool hidden);
    ~uiWindow();
    uiWindow(const uiWindow&) = delete;
    uiWindow& operator=(const uiWindow&) = delete;

    // Queues the OpenGL set-up and the view's creation; once the window is listed under its final name.
    void start();

    // Any thread; each does nothing once the window is closing.
    void setURL(const char* url);
    void execJS(const char* script);
    void resize(int32_t width, int32_t height);
    void setAlwaysOnTop(bool flag);
    void setFitToScreen(bool flag);
    void setHidden(bool flag);
    void setPosition(int32_t x, int32_t y);
    bool isLoaded();
    bool needsRepaint();
    void setNeedsRepaint(bool flag);
    void lock();
    void unlock();
    // By the window list, on a name conflict.
    void renameWindow(const char* newName);

    // UI Worker tasks: (window, argument).
    static void taskCreateView(void* window, void* unused);
    static void taskReleaseView(void* window, void* unused);
    static void awesomiumSetURL(void* window, void* url);
    static void awesomiumOnExecJS(void* window, void* script);
    static void taskFocusIn(void* window, void* unused);
    static void taskFocusOut(void* window, void* unused);
    static void taskResize(void* window, void* unused);
    // The record goes back to its pool whatever happens to it.
    static void awesomiumOnInputEventTask(void* window, void* event);

    // Main tasks; taskGLCleanup also runs directly at the UI's final.
    static void taskGLInit(void* window, int32_t, int32_t, int32_t);
    static void taskGLCleanup(void* window, int32_t, int32_t, int32_t);
    // OpenGL thread, inside the window lock, once the window is drawable.
    void prepareDraw();
    void drawQuad();

    // UI Worker, from the engine's load notification: the page title, then loaded.
    void onLoadCompleted();

    static constexpr uint32_t NO_TEXTURE = UINT32_MAX;

    std::atomic<int32_t> loaded;
    // The window list's links, under the window-list lock.
    uiWindow* next;
    uiWindow* prev;
    // Drawable at 3: construction, the OpenGL set-up and the view's creation each count one.
    std::atomic<int32_t> initCount;
    std::atomic<int32_t> closing;
    // Set by taskReleaseView and taskGLCleanup as their last step: the clean-up deletes the window only
    // once both have run.
    std::atomic<int32_t> viewReleased;
    std::atomic<int32_t> glReleased;
    char* name;
    char* page; // or null
    // Guards position, size, hidden flag and input mask, and the draw.
    util::mutex windowLock;
    // The UI Worker's only.
    eawebkit::View* view;
    std::atomic<int32_t> repaint;
    // Guards pixels, capacity, size and the image's size (the size is written under both locks).
    util::mutex pixelLock;
    uint8_t* pixels;
    std::atomic<int32_t> newPixels;
    int32_t capW;
    int32_t capH;
    // The OpenGL thread's only.
    uint32_t texture;
    std::atomic<int32_t> hasContent;
    std::atomic<int32_t> resized;
    r::Buffer* buffer;
    r::ProgramAttribs* attribs;
    int32_t x;
    int32_t y;
    int32_t height;
    int32_t width;
    std::atomic<uint8_t> hidden;
    std::atomic<uint8_t> alwaysOnTop;
    std::atomic<uint8_t> fitToScreen;
    // Bit 0 keyboard, bit 1 mouse.
    std::atomic<int32_t> inputMask;
    // The size the UI Worker last gave the view; the surface must have it.
    int32_t viewWidth;
    int32_t viewHeight;
    // The size of the image in pixels, which a resize may have left behind the window's.
    int32_t imageWidth;
    int32_t imageHeight;

private:
    // Read under the window lock.
    void currentSize(int32_t* currentWidth, int32_t* currentHeight);
    // Takes the script (tracking allocator) and queues it for the view.
    void postScript(char* script);
};

} // namespace tavrix
