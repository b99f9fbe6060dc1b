#include "client/uiwindow.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/maintaskqueue.h"
#include "client/r_buffer.h"
#include "client/r_glwrapper.h"
#include "client/r_programattribs.h"
#include "client/windowing.h"
#include "platformlib/util/exception.h"
#include "webengine/eawebkit.h"

namespace tavrix {
namespace {

constexpr int32_t MIN_CAPACITY = 256;
constexpr int32_t CAPACITY_HEADROOM = 32;
// Sizes come from the settings: bounded to what the engine's views take, which also keeps a buffer's bytes
// well within 32 bits.
constexpr int32_t MIN_SIZE = 1;
constexpr int32_t MAX_SIZE = eawebkit::kMaxViewSide;
// The first address: at most 510 characters and the NUL.
constexpr size_t FIRST_ADDRESS_BUFFER = 511;
constexpr char UNINITIALIZED_PAGE[] = "file://embedded/uninitialized.html";
constexpr char EMBED_PREFIX[] = "embed:";
// The quad's four rows of (u, v, x, y, z).
constexpr uint32_t QUAD_FLOATS = 20;

// The windowing library's keys with a virtual-key code: each row a run of consecutive keys with
// consecutive codes from `code`. Every other key has none.
struct keyRun {
    int32_t first;
    int32_t last;
    uint32_t code;
};
constexpr keyRun KEY_TABLE[] = {
    {32, 32, 32},     // space
    {44, 47, 188},    // comma, minus, period, slash
    {48, 57, 48},     // 0-9
    {59, 59, 186},    // semicolon
    {61, 61, 187},    // equal
    {65, 90, 65},     // A-Z
    {91, 93, 219},    // left bracket, backslash, right bracket
    {96, 96, 192},    // grave accent
    {256, 256, 27},   // escape
    {257, 257, 10},   // enter: 10, not 13
    {258, 258, 9},    // tab
    {259, 259, 8},    // backspace
    {260, 261, 45},   // insert, delete
    {262, 262, 39},   // right
    {263, 263, 37},   // left
    {264, 264, 40},   // down
    {265, 265, 38},   // up
    {266, 267, 33},   // page up, page down
    {268, 268, 36},   // home
    {269, 269, 35},   // end
    {280, 280, 20},   // caps lock
    {281, 281, 145},  // scroll lock
    {282, 282, 144},  // num lock
    {283, 283, 44},   // print screen
    {284, 284, 19},   // pause
    {290, 313, 112},  // F1-F24
    {320, 329, 96},   // keypad 0-9
    {330, 331, 110},  // keypad decimal, divide
    {332, 332, 106},  // keypad multiply
    {333, 333, 109},  // keypad subtract
    {334, 334, 107},  // keypad add
    {335, 335, 14},   // keypad enter: 14, not 13
    {340, 340, 160},  // left shift
    {341, 341, 162},  // left control
    {342, 342, 164},  // left alt
    {343, 343, 91},   // left super
    {344, 344, 161},  // right shift
    {345, 345, 163},  // right control
    {346, 346, 165},  // right alt
    {347, 347, 92},   // right super
    {348, 348, 93},   // menu
};
// The windowing library's keys run up to 348 (menu).
constexpr int32_t KEY_COUNT = 349;

struct keyCodes {
    uint8_t code[KEY_COUNT];
};

constexpr keyCodes keyCodesOf()
{
    keyCodes codes{};
    for (const keyRun& run : KEY_TABLE)
        for (int32_t key = run.first; key <= run.last; ++key)
            codes.code[key] = uint8_t(run.code + uint32_t(key - run.first));
    return codes;
}
constexpr keyCodes KEY_CODES = keyCodesOf();

// The engine's wheel steps are pixels; a notch of the windowing library scrolls this many.
constexpr int64_t WHEEL_PIXELS = 32;

// Installed before the first window is made and removed after the last is deleted.
std::atomic<uiWindowHost*> host{nullptr};

uiWindow* windowOf(void* window) { return static_cast<uiWindow*>(window); }

char* copyOf(const char* text) { return text ? rostrdup(text) : nullptr; }

// A task's copy, freed when the task is dropped unrun.
void dropCopy(void*, void* copy) { rofree(copy); }

// The size clamped to MIN_SIZE..MAX_SIZE in each direction, logged when it had to be.
void boundSize(const char* name, int32_t* width, int32_t* height)
{
    auto bounded = [](int32_t value) { return value < MIN_SIZE ? MIN_SIZE : value > MAX_SIZE ? MAX_SIZE : value; };
    if (bounded(*width) == *width && bounded(*height) == *height)
        return;
    CLIENT_LOG(util::LOG_ERROR, "uiWindow('%s') - size %dx%d out of range, using %dx%d\n", name, *width, *height, bounded(*width), bounded(*height));
    *width = bounded(*width);
    *height = bounded(*height);
}

uint8_t* allocatePixels(int32_t capW, int32_t capH) { return static_cast<uint8_t*>(roalloc(uint32_t(capW) * uint32_t(capH) * 4u)); }

// The page's first address into buffer; false when it does not fit.
bool firstAddress(const char* page, char* buffer, size_t size)
{
    int written;
    if (!page)
        written = std::snprintf(buffer, size, "%s", UNINITIALIZED_PAGE);
    else if (std::strncmp(page, EMBED_PREFIX, sizeof(EMBED_PREFIX) - 1) == 0)
        written = std::snprintf(buffer, size, "file://embedded/%s", page + sizeof(EMBED_PREFIX) - 1);
    else
        written = std::snprintf(buffer, size, "file://ui/%s/index.html", page);
    return written >= 0 && size_t(written) < size;
}

char* appendEscaped(char* out, const char* text)
{
    static constexpr char HEX[] = "0123456789abcdef";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        *out++ = '\\';
        *out++ = 'x';
        *out++ = HEX[*p >> 4];
        *out++ = HEX[*p & 0x0F];
    }
    return out;
}

// document.title = "<name>/<page>"; with every byte as \xhh, sized from the two lengths.
char* titleStatement(const char* name, const char* page)
{
    static constexpr char HEAD[] = "document.title = \"";
    static constexpr char TAIL[] = "\";";
    const size_t escaped = 4 * (std::strlen(name) + (page ? std::strlen(page) : 0));
    char* statement = static_cast<char*>(roalloc(uint32_t(sizeof(HEAD) - 1 + escaped + 1 + sizeof(TAIL))));
    char* out = statement;
    std::memcpy(out, HEAD, sizeof(HEAD) - 1);
    out = appendEscaped(out + sizeof(HEAD) - 1, name);
    *out++ = '/';
    if (page)
        out = appendEscaped(out, page);
    std::memcpy(out, TAIL, sizeof(TAIL));
    return statement;
}

int32_t saturated(int64_t value) { return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : int32_t(value); }

void sendWheel(uiWindow* window, const ui::inputEvent& event)
{
    window->view->OnMouseWheelEvent({saturated(event.b * WHEEL_PIXELS), 1.0f, -1, -1, -1, -1, 0});
}

// The windowing library's buttons are left, right, middle; the engine's left, middle, right.
void sendButton(uiWindow* window, const ui::inputEvent& event)
{
    eawebkit::MouseButton id;
    switch (event.c) {
    case 0:
        id = eawebkit::kMouseLeft;
        break;
    case 1:
        id = eawebkit::kMouseRight;
        break;
    case 2:
        id = eawebkit::kMouseMiddle;
        break;
    default:
        return;
    }
    window->view->OnMouseButtonEvent({id, event.a, event.b, -1, -1, 0, 1, event.d == 1});
    if (window->inputMask.load() & ui::INPUT_KEYBOARD)
        host.load()->setFocus(window);
}

void sendMove(uiWindow* window, const ui::inputEvent& event) { window->view->OnMouseMoveEvent({event.a, event.b, -1, -1, 0}); }

// Shift, control and alt keep their bits; super is the engine's 16.
uint32_t engineModifiers(int32_t modifiers)
{
    uint32_t engine = 0;
    if (modifiers & 1)
        engine |= eawebkit::kModShift;
    if (modifiers & 2)
        engine |= eawebkit::kModControl;
    if (modifiers & 4)
        engine |= eawebkit::kModAlt;
    if (modifiers & 8)
        engine |= eawebkit::kModOS;
    return engine;
}

// Release, press or repeat. The windowing library sends no other action: one that comes anyway is
// dropped.
void sendKey(uiWindow* window, const ui::inputEvent& event)
{
    if (event.c < 0 || event.c > 2) {
        CLIENT_LOG(util::LOG_ERROR, "Something has fallen into deep depressions.\n");
        return;
    }
    const uint32_t id = uiTranslateGlfwKey(event.a);
    if (id != 0)
        window->view->OnKeyboardEvent({id, engineModifiers(event.d), false, event.c != 0});
}

void sendCharacter(uiWindow* window, const ui::inputEvent& event)
{
    window->view->OnKeyboardEvent({uint32_t(event.a), 0, true, true});
}

void deliverInput(uiWindow* window, const ui::inputEvent& event)
{
    switch (event.type) {
    case ui::INPUT_WHEEL:
        sendWheel(window, event);
        break;
    case ui::INPUT_BUTTON:
        sendButton(window, event);
        break;
    case ui::INPUT_MOVE:
        sendMove(window, event);
        break;
    case ui::INPUT_KEY:
        sendKey(window, event);
        break;
    case ui::INPUT_CHARACTER:
        sendCharacter(window, event);
        break;
    case ui::INPUT_WIN32_KEY:
        CLIENT_LOG(util::LOG_ERROR, "uiWindow - Win32Key Input event is not supported.\n");
        break;
    default:
        CLIENT_LOG(util::LOG_ERROR, "uiWindow::awesomiumOnInputEventTask - unhandled/unknown InputEvent Type %u\n", uint32_t(event.type));
        break;
    }
}

} // namespace

uint32_t uiTranslateGlfwKey(int32_t key) { return key >= 0 && key < KEY_COUNT ? KEY_CODES.code[key] : 0; }

uiWindow::uiWindow(const char* name_, const char* page_, int32_t width_, int32_t height_, int32_t x_, int32_t y_,
                   bool hidden_)
    : loaded(0), next(nullptr), prev(nullptr), initCount(1), closing(0), viewReleased(0), glReleased(0),
      name(rostrdup(name_)), page(copyOf(page_)),
      view(nullptr), repaint(0), pixels(nullptr), newPixels(0), capW(0), capH(0), texture(NO_TEXTURE), hasContent(0), resized(0),
      buffer(nullptr), attribs(nullptr), x(x_), y(y_), height(height_), width(width_), hidden(hidden_ ? 1 : 0),
      alwaysOnTop(0), fitToScreen(0), inputMask(0), viewWidth(0), viewHeight(0), imageWidth(0), imageHeight(0)
{
    boundSize(name, &width, &height);
    capW = width < MIN_CAPACITY ? MIN_CAPACITY : width;
    capH = height < MIN_CAPACITY ? MIN_CAPACITY : height;
    pixels = allocatePixels(capW, capH);
}

uiWindow::~uiWindow()
{
    rofree(name);
    if (page)
        rofree(page);
    rofree(pixels);
}

void uiWindow::setHost(uiWindowHost* installed) { host.store(installed); }

void uiWindow::start()
{
    mainTaskQueue::add(taskGLInit, this, 0, 0, 0);
    host.load()->postTask(taskCreateView, this, nullptr, nullptr);
}

void uiWindow::setURL(const char* url)
{
    if (closing.load() == 1)
        return;
    loaded.store(0);
    host.load()->postTask(awesomiumSetURL, this, rostrdup(url), dropCopy);
}

void uiWindow::execJS(const char* script)
{
    if (closing.load() == 1)
        return;
    postScript(rostrdup(script));
}

void uiWindow::postScript(char* script) { host.load()->postTask(awesomiumOnExecJS, this, script, dropCopy); }

// The size is stored under the pixel lock too, so a copy on the worker never sees a size its buffer
// cannot hold.
void uiWindow::resize(int32_t newWidth, int32_t newHeight)
{
    if (closing.load() == 1)
        return;
    boundSize(name, &newWidth, &newHeight);
    {
        std::lock_guard<util::mutex> window(windowLock);
        std::lock_guard<util::mutex> pixel(pixelLock);
        if (capW < newWidth || capH < newHeight) {
            capW = newWidth + CAPACITY_HEADROOM;
            capH = newHeight + CAPACITY_HEADROOM;
            pixels = static_cast<uint8_t*>(rorealloc(pixels, uint32_t(capW) * uint32_t(capH) * 4u));
            // The capacity may have shrunk in one direction: an image it no longer holds is not uploaded.
            if (int64_t(imageWidth) * imageHeight > int64_t(capW) * capH) {
                imageWidth = 0;
                imageHeight = 0;
                newPixels.store(0);
            }
        }
        width = newWidth;
        height = newHeight;
        resized.store(1);
    }
    host.load()->postTask(taskResize, this, nullptr, nullptr);
}

void uiWindow::renameWindow(const char* newName)
{
    CLIENT_LOG(util::LOG_ERROR, "WindowName CONFLICT - Enforcing rename of Window '%s' -> '%s'\n", name, newName);
    rofree(name);
    name = rostrdup(newName);
}

void uiWindow::setAlwaysOnTop(bool flag)
{
    if (closing.load() == 1 || alwaysOnTop.load() == uint8_t(flag))
        return;
    alwaysOnTop.store(flag ? 1 : 0);
    if (flag)
        host.load()->windowListReinsert(this);
}

void uiWindow::setFitToScreen(bool flag)
{
    if (closing.load() == 1 || fitToScreen.load() == uint8_t(flag))
        return;
    fitToScreen.store(flag ? 1 : 0);
    if (flag)
        resize(client::screenWidth.load(), client::screenHeight.load());
}

void uiWindow::setHidden(bool flag)
{
    if (closing.load() == 1)
        return;
    std::lock_guard<util::mutex> guard(windowLock);
    hidden.store(flag ? 1 : 0);
}

void uiWindow::setPosition(int32_t newX, int32_t newY)
{
    if (closing.load() == 1)
        return;
    std::lock_guard<util::mutex> guard(windowLock);
    x = newX;
    y = newY;
}

void uiWindow::currentSize(int32_t* currentWidth, int32_t* currentHeight)
{
    std::lock_guard<util::mutex> guard(windowLock);
    *currentWidth = width;
    *currentHeight = height;
}

bool uiWindow::isLoaded() { return closing.load() != 1 && loaded.load() == 1; }

bool uiWindow::needsRepaint() { return repaint.load() == 1; }

void uiWindow::setNeedsRepaint(bool flag) { repaint.store(flag ? 1 : 0); }

void uiWindow::lock() { windowLock.lock(); }

void uiWindow::unlock() { windowLock.unlock(); }

void uiWindow::taskCreateView(void* window, void*)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() == 1)
        return;
    eawebkit::ViewParameters parameters{};
    self->currentSize(&parameters.width, &parameters.height);
    parameters.userData = self;
    parameters.backgroundColor = uint32_t(-1);
    parameters.maxURILength = 512;
    parameters.runScripts = true;
    parameters.loadImages = true;
    parameters.loadStyleSheets = true;
    parameters.followLinks = true;
    parameters.transparent = false;
    self->view = host.load()->engine()->CreateView();
    if (!self->view) {
        CLIENT_LOG(util::LOG_ERROR, "uiWindow('%s')::taskCreateView - the engine made no view, the window stays empty\n", self->name);
        return;
    }
    self->view->Init(parameters);
    self->viewWidth = parameters.width;
    self->viewHeight = parameters.height;

    char address[FIRST_ADDRESS_BUFFER];
    if (!firstAddress(self->page, address, sizeof(address))) {
        CLIENT_LOG(util::LOG_ERROR, "uiWindow('%s')::taskCreateView - the address of page '%s' is longer than %u bytes, showing %s\n",
                   self->name, self->page, uint32_t(sizeof(address) - 1), UNINITIALIZED_PAGE);
        std::snprintf(address, sizeof(address), "%s", UNINITIALIZED_PAGE);
    }
    host.load()->addMissingFonts();
    self->view->SetURI(address);
    self->initCount.fetch_add(1);
}

void uiWindow::taskReleaseView(void* window, void*)
{
    uiWindow* self = windowOf(window);
    if (self->view) {
        self->view->Shutdown();
        self->view = nullptr;
    }
    self->viewReleased.store(1);
}

void uiWindow::awesomiumSetURL(void* window, void* url)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() != 1 && self->view) {
        host.load()->addMissingFonts();
        self->view->SetURI(static_cast<const char*>(url));
    }
    rofree(url);
}

// The screens' progress and status statements and the title statement run in the page.
void uiWindow::awesomiumOnExecJS(void* window, void* script)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() != 1 && self->view) {
        CLIENT_LOG(util::LOG_DEBUG, "uiWindow:ExecJS! \n");
        self->view->EvaluateScript(static_cast<const char*>(script));
    }
    rofree(script);
}

void uiWindow::taskFocusIn(void* window, void*)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() != 1 && self->view && host.load()->isFocusedWindow(self))
        self->view->SetFocus(true);
}

void uiWindow::taskFocusOut(void* window, void*)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() != 1 && self->view)
        self->view->SetFocus(false);
}

void uiWindow::taskResize(void* window, void*)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() == 1 || !self->view)
        return;
    int32_t newWidth;
    int32_t newHeight;
    self->currentSize(&newWidth, &newHeight);
    // Outside the window lock: the engine lays the page out again, which may take long, and the draw and
    // the mouse's input wait for that lock. A resize meanwhile posts another of these.
    self->view->SetSize(newWidth, newHeight);
    self->viewWidth = newWidth;
    self->viewHeight = newHeight;
}

void uiWindow::awesomiumOnInputEventTask(void* window, void* event)
{
    uiWindow* self = windowOf(window);
    auto* record = static_cast<ui::inputEvent*>(event);
    if (self->closing.load() != 1 && self->view)
        deliverInput(self, *record);
    host.load()->releaseInputEvent(record);
}

void uiWindow::taskGLInit(void* window, int32_t, int32_t, int32_t)
{
    uiWindow* self = windowOf(window);
    if (self->closing.load() == 1)
        return;
    self->buffer = new r::Buffer(2, self->name, 1, 0, r::BUFFER_STREAM);
    self->buffer->allocate();
    int32_t currentWidth;
    int32_t currentHeight;
    self->currentSize(&currentWidth, &currentHeight);
    self->resize(currentWidth, currentHeight);
    self->attribs = new r::ProgramAttribs(host.load()->program(), self->buffer);
    self->attribs->addAttrib("texPos", r::VEC2);
    self->attribs->addAttrib("vtxPos", r::VEC3);
    self->attribs->compile();
    self->initCount.fetch_add(1);
}

void uiWindow::prepareDraw()
{
    int32_t expected = 1;
    while (resized.compare_exchange_strong(expected, 0)) {
        const float w = float(width);
        const float h = float(height);
        const float quad[QUAD_FLOATS] = {0, 0, 0, 0, 0, 1, 0, w, 0, 0, 1, 1, w, h, 0, 0, 1, 0, h, 0};
        buffer->rawSetBufferData(quad, sizeof(quad));
        if (texture == NO_TEXTURE) {
            r::clearErrors();
            GLuint created = 0;
            glGenTextures(1, &created);
            const GLenum error = glGetError();
            if (error != GL_NO_ERROR)
                TAVRIX_FATAL("uiWindow::prepareDraw() - texture Creation Failed (errno: %u / %s)\n", uint32_t(error), r::errorText(error));
            texture = created;
        }
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        expected = 1;
    }
    if (newPixels.load() != 1 || !pixelLock.tryLock())
        return;
    r::clearErrors();
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, imageWidth, imageHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    newPixels.store(0);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        CLIENT_LOG(util::LOG_INFO, "uiWindow('%s')::prepareDraw - texture transmission failed (err: %u / %s)\n", name, uint32_t(error), r::errorText(error));
    pixelLock.unlock();
    hasContent.store(1);
}

void uiWindow::drawQuad()
{
    attribs->bind();
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glDrawArrays(GL_QUADS, 0, 4);
}

void uiWindow::taskGLCleanup(void* window, int32_t, int32_t, int32_t)
{
    uiWindow* self = windowOf(window);
    delete self->attribs;
    self->attribs = nullptr;
    delete self->buffer;
    self->buffer = nullptr;
    if (self->texture != NO_TEXTURE) {
        GLuint name = self->texture;
        glDeleteTextures(1, &name);
        self->texture = NO_TEXTURE;
    }
    self->glReleased.store(1);
}

void uiWindow::onLoadCompleted()
{
    if (closing.load() != 1)
        postScript(titleStatement(name, page));
    loaded.store(1);
}

} // namespace tavrix
