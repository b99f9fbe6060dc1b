#pragma once
// The web engine's interface, shared by the engine library (EAWebKitd.so) and the client that loads it.
//
// The client opens the library, resolves CreateEAWebkitInstance and drives the instance from one thread
// (creation, the version check and destruction may run on another). Engine calls throw nothing of the
// engine's own; what a host object throws passes through unchanged. Strings are char or char16_t, never
// wchar_t. Records are plain data with the 64-bit layout of this header; nothing stores them.
//
// Objects the host implements for the engine (Allocator, Client, TransportHandler, Stream) keep their
// virtual slot order: the host's classes are built against it.
#include <cstddef>
#include <cstdint>

namespace eawebkit {

class Allocator;
class Client;
class Stream;
class TransportHandler;
class View;

// ---------------------------------------------------------------------------------------------------
// Records passed at initialisation.

// Seconds on a monotonic clock (the client passes glfwGetTime). Every time-out is measured with it.
using TimeSource = double (*)();

struct AppCallbacks {
    TimeSource timeSource; // null: the engine reads its own monotonic clock
    void* reserved[4];     // null
};

struct AppSystems {
    Allocator* allocator; // null: the engine's own heap. This engine always uses its own heap.
    void* reserved[3];    // null
    Client* client;       // receives the notifications; may be null
};

// Slots of Parameters::fontFamilies: what each CSS generic family name resolves to. A family name that
// matches no face resolves to the standard slot.
enum FontFamilySlot : uint32_t {
    kFontStandard = 0,
    kFontSerif = 1,
    kFontSansSerif = 2,
    kFontMonospace = 3,
    kFontCursive = 4,
    kFontFantasy = 5,
    kFontPictograph = 6,
    kFontSlotCount = 7,
};

inline constexpr size_t kFontFamilyNameChars = 64;

// The engine's settings, read with Instance::GetParameters, edited in place and applied with
// Instance::SetParameters. Texts are NUL-terminated within their arrays.
struct Parameters {
    char applicationName[64];
    char userAgent[512];
    uint32_t javaScriptStackSize;    // bytes; kept (the engine runs no script interpreter)
    bool ignoreColorProfile;         // kept (images are drawn without colour management either way)
    uint32_t minFontSizeForSmoothing; // text below this pixel size is drawn without anti-aliasing; 0 = all smoothed
    char16_t fontFamilies[kFontSlotCount][kFontFamilyNameChars]; // face family names, e.g. u"Liberation Sans"
    bool pluginsEnabled;             // kept (the engine loads no plug-ins)
};

// ---------------------------------------------------------------------------------------------------
// Host-implemented: the allocator. The engine is always initialised without one in this system; the
// interface is kept for the host's class.

class Allocator {
public:
    virtual ~Allocator() = default;
    virtual void* Malloc(size_t size, int flags, const char* name) = 0;
    virtual void* MallocAligned(size_t size, size_t alignment, size_t alignmentOffset, int flags,
                                const char* name) = 0;
    virtual void Free(void* p, size_t size) = 0;
    virtual void* Realloc(void* p, size_t size, int flags) = 0;
    virtual void Trim() = 0;                   // hand unused memory back to the system
    virtual bool SupportsOSMemoryManagement() = 0;
    virtual size_t SystemPageSize() = 0;
    virtual void* ReserveUncommitted(size_t) { return nullptr; }
    virtual size_t CommitGranularity() { return 0; }
    virtual void Commit(void*, size_t) {}
    virtual size_t ReservedBytes() { return 0; }
    virtual void Decommit(void*, size_t) {}
    virtual void ReleaseReserved(void*, size_t) {}
    virtual void DumpStatistics() {}
};

// ---------------------------------------------------------------------------------------------------
// Host-implemented: a read-only stream (the font faces).

enum StreamPositionKind : int32_t {
    kPositionBegin = 0,
    kPositionCurrent = 1,
    kPositionEnd = 2,
};

enum StreamAccess : int32_t {
    kAccessRead = 1,
    kAccessWrite = 2,
};

class Stream {
public:
    virtual ~Stream() = default;
    virtual int32_t AddRef() = 0;
    virtual int32_t Release() = 0; // the last release destroys the stream
    virtual uint32_t GetType() = 0;
    virtual int32_t GetAccessFlags() = 0;
    virtual int32_t GetState() = 0; // 0 = good
    virtual bool Close() = 0;
    virtual uint64_t GetSize() = 0;
    virtual bool SetSize(uint64_t size) = 0;
    virtual int64_t GetPosition(int32_t kind) = 0;
    virtual bool SetPosition(int64_t offset, int32_t kind) = 0;
    virtual uint64_t GetAvailable() = 0;
    virtual uint64_t Read(void* buffer, uint64_t size) = 0; // bytes read; 0 at the end
    virtual bool Flush() = 0;
    virtual bool Write(const void* data, uint64_t size) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Notifications to the host. Each record carries the view and the user data given in its ViewParameters.

enum LoadEvent : int32_t {
    kLoadCompleted = 5,           // the page and all its sub-resources are in
    kLoadCompletedWithErrors = 6, // the page is in, at least one sub-resource failed
    kLoadFailed = 11,             // the page itself could not be loaded; the view keeps its old content
};

// Why a page failed (LoadInfo::code of kLoadFailed).
enum LoadError : uint32_t {
    kLoadErrorNone = 0,
    kLoadErrorNoHandler = 1,     // no transport handler for the URI's scheme, or the URI has none
    kLoadErrorRefused = 2,       // the handler's InitJob or Connect returned false
    kLoadErrorTransfer = 3,      // the transfer ended without success (status other than 200)
    kLoadErrorTimeOut = 4,       // no end of the transfer within the time-out
    kLoadErrorURITooLong = 5,    // the URI does not fit ViewParameters::maxURILength
    kLoadErrorTooLarge = 6,      // the content, its style sheets or its images exceed the engine's size bounds
    kLoadErrorTooComplex = 7,    // the page's nesting, elements, selectors or imports exceed the engine's bounds
};

struct LoadInfo {
    void* userData;
    View* view;
    const char16_t* uri; // the page's address; valid during the call
    LoadEvent event;
    int32_t number;      // kLoadCompletedWithErrors: sub-resources failed; kLoadFailed: the handler's status (0 if none)
    uint32_t code;       // kLoadFailed: a LoadError; otherwise 0
};

enum DebugLogType : uint32_t {
    kDebugLogWarning = 1, // a problem in a page (a sub-resource that failed, an engine failure)
    kDebugLogTrace = 2,   // the engine's progress
};

struct DebugLogInfo {
    void* userData;
    View* view;
    const char* text; // one line, no line feed; valid during the call
    DebugLogType type;
};

// A fetch that timed out (the page's own failure is also a kLoadFailed event).
struct NetworkErrorInfo {
    void* userData;
    View* view;
    const char16_t* uri; // the job's address
    uint32_t code;       // a LoadError
};

enum ViewUpdatePhase : int32_t {
    kViewUpdateRepaint = 2, // the surface holds a new image
};

struct ViewUpdateInfo {
    void* userData;
    View* view;
    ViewUpdatePhase phase;
};

// The host's receiver of notifications, called on the thread that called the engine. The reserved slots
// keep the host's layout; the engine does not call them.
class Client {
public:
    virtual ~Client() = default;
    virtual void Reserved0() {}
    virtual void LoadUpdate(LoadInfo& info) = 0;
    virtual void DebugLog(DebugLogInfo& info) = 0;
    virtual void NetworkError(NetworkErrorInfo& info) = 0;
    virtual void Reserved1() {}
    virtual void Reserved2() {}
    virtual void ViewUpdate(ViewUpdateInfo& info) = 0;
    virtual void Reserved3() {}
    virtual void Reserved4() {}
    virtual void Reserved5() {}
    virtual void Reserved6() {}
    virtual void Reserved7() {}
    virtual void Reserved8() {}
    virtual void Reserved9() {}
    virtual void Reserved10() {}
    virtual void Reserved11() {}
    virtual void Reserved12() {}
    virtual void Reserved13() {}
    virtual void Reserved14() {}
};

// ---------------------------------------------------------------------------------------------------
// Transport: the engine fetches every URI through the handler registered for its scheme.

class TransportServer;

enum RequestType : int32_t {
    kRequestGet = 1, // the only type the engine issues
};

inline constexpr size_t kTransportURIChars = 512;
inline constexpr size_t kTransportSchemeChars = 16;

// One job. The engine owns it from InitJob until ShutdownJob has returned.
struct TransportInfo {
    char16_t effectiveURL[kTransportURIChars]; // NUL-terminated
    char16_t scheme[kTransportSchemeChars];    // NUL-terminated, lower case
    RequestType requestType;
    int32_t status;            // set by the handler: 200 = the data is good, anything else = failed
    TransportServer* server;   // takes the job's data
    void* handlerData;         // the handler's own slot, null at InitJob
};

// Engine-implemented: receives a job's data. Only valid between InitJob and ShutdownJob of that job.
class TransportServer {
public:
    virtual void SetExpectedLength(TransportInfo* info, int64_t length) = 0;
    virtual void DataReceived(TransportInfo* info, const void* data, int64_t length) = 0;
    virtual void DataDone(TransportInfo* info, bool success) = 0;

protected:
    ~TransportServer() = default;
};

// Host-implemented: serves one or more schemes. The engine calls InitJob, Connect, Transfer, Disconnect and
// ShutdownJob for one job, each returning at once. InitJob is called once (it takes the job; one not done
// puts Connect off to a later cycle); Connect and Transfer are called again in later cycles until the
// handler sets `done`; Disconnect and ShutdownJob once. A job whose InitJob or Connect
// returns false fails; one that is cancelled or times out goes straight to ShutdownJob.
class TransportHandler {
public:
    virtual ~TransportHandler() = default;
    virtual bool Init(const char16_t* scheme) = 0;     // at AddTransportHandler
    virtual bool Shutdown(const char16_t* scheme) = 0; // at the engine's shutdown
    virtual bool InitJob(TransportInfo* info, bool& done) = 0;
    virtual bool Connect(TransportInfo* info, bool& done) = 0;
    virtual bool Transfer(TransportInfo* info, bool& done) = 0;
    virtual bool Disconnect(TransportInfo* info, bool& done) = 0;
    virtual bool ShutdownJob(TransportInfo* info, bool& done) = 0;
    // True when the handler bounds its jobs' time itself; false: the engine ends a job after 15 s.
    virtual bool ManagesTimeOut() = 0;
    // True when the engine may keep the scheme's data in its disk cache (this engine has none).
    virtual bool CanCacheToDisk() = 0;
    // True when the scheme's pages are local: a click on a link into it navigates the view.
    virtual bool IsLocal() = 0;
};

// ---------------------------------------------------------------------------------------------------
// Engine-implemented: the text system, surfaces and views.

class TextSystem {
public:
    // Adds one font face (TrueType or OpenType). The engine takes a reference, reads the stream whole into
    // its own copy and releases it before returning. False: no stream, unreadable or not a face. Pages
    // already shown draw their text with it from their view's next Update.
    virtual bool AddFace(Stream* stream) = 0;

protected:
    ~TextSystem() = default;
};

struct IntRect {
    int32_t x, y, width, height;
};

struct SurfaceDescriptor {
    void* pixels;  // BGRA, 4 bytes a pixel, premultiplied alpha
    int32_t stride; // bytes a row: width * 4
};

class Surface {
public:
    // True once the view has pixels (after View::Init with a size above 0).
    virtual bool IsAllocated() = 0;
    // Hands out the pixels of the whole surface (rect null) or from the rectangle's top-left corner,
    // with all drawing done. Pixels stay valid until Unlock.
    virtual void Lock(SurfaceDescriptor* out, const IntRect* rect) = 0;
    virtual void Unlock() = 0;
    virtual int32_t GetContentWidth() = 0;
    virtual int32_t GetContentHeight() = 0;

protected:
    ~Surface() = default;
};

struct ViewParameters {
    int32_t reserved0;       // 0
    int32_t reserved1;       // 0
    void* userData;          // handed back in every notification of the view
    int32_t reserved2;       // 0
    int32_t width, height;   // pixels
    uint32_t backgroundColor; // ARGB painted under the page; -1 (0xFFFFFFFF) = opaque white
    int32_t maxURILength;    // bytes a URI may take with its NUL (512); longer ones fail to load
    bool runScripts;         // EvaluateScript applies the statements it knows
    bool loadImages;         // images and CSS backgrounds are fetched and drawn
    bool loadStyleSheets;    // <link rel=stylesheet> and @import are fetched
    bool followLinks;        // a click on a link into a local scheme navigates the view
    bool transparent;        // the background is painted fully transparent instead
};

enum MouseButton : int32_t {
    kMouseLeft = 0,
    kMouseMiddle = 1,
    kMouseRight = 2,
};

enum Modifier : uint32_t {
    kModShift = 1,
    kModControl = 2,
    kModAlt = 4,
    kModOS = 16,
};

struct MouseMoveEvent {
    int32_t x, y;             // view pixels
    int32_t globalX, globalY; // screen pixels, -1 = unknown
    uint32_t modifiers;
};

struct MouseButtonEvent {
    MouseButton id;
    int32_t x, y;
    int32_t globalX, globalY;
    uint32_t modifiers;
    int32_t clickCount;
    bool depressed; // true = pressed, false = released
};

struct MouseWheelEvent {
    int32_t delta;     // pixels; positive scrolls towards the top of the page
    float lineDelta;   // scale of delta (1.0 = delta pixels)
    int32_t x, y;      // -1 = where the mouse last was
    int32_t globalX, globalY;
    uint32_t modifiers;
};

struct KeyboardEvent {
    uint32_t id;        // virtual-key code, or the code point when isChar
    uint32_t modifiers;
    bool isChar;
    bool depressed;
};

// The largest side of a view's surface, in pixels; hosts bound their windows to it.
inline constexpr int32_t kMaxViewSide = 16384;

// View::Update flags.
enum UpdateFlags : uint32_t {
    kUpdateForceRepaint = 1, // repaint (and notify) even when nothing changed
};

class View {
public:
    // Allocates the surface at the given size (1 to 16384 pixels a side). False: bad parameters; the view
    // stays unusable.
    virtual bool Init(const ViewParameters& parameters) = 0;
    // Starts loading the page (cancelling every job of the view still in flight). The page is shown once
    // it and its sub-resources are in; a failure keeps the old content. False: the load failed at once.
    virtual bool SetURI(const char* uri) = 0;
    // Advances the view's transfers, lays out and repaints what changed. Called once a cycle.
    virtual void Update(uint32_t flags) = 0;
    virtual Surface* GetSurface() = 0;
    // Reallocates the surface, lays the page out again and repaints before returning. A size outside 1 to
    // 16384 pixels a side is ignored.
    virtual void SetSize(int32_t width, int32_t height) = 0;
    virtual void SetFocus(bool focused) = 0;
    virtual void OnMouseMoveEvent(const MouseMoveEvent& event) = 0;
    virtual void OnMouseButtonEvent(const MouseButtonEvent& event) = 0;
    virtual void OnMouseWheelEvent(const MouseWheelEvent& event) = 0;
    virtual void OnKeyboardEvent(const KeyboardEvent& event) = 0;
    // Applies one of the statements the client hands its pages:
    //   document.getElementById('progress').style.width ='N%';
    //   document.getElementById('status').innerHTML = "\xHH...";
    //   document.title = "\xHH...";
    // (each \xHH one character U+00HH). Anything else: false, nothing changed.
    virtual bool EvaluateScript(const char* script) = 0;
    // The last call on the view: cancels its jobs and frees it.
    virtual void Shutdown() = 0;

protected:
    ~View() = default;
};

// ---------------------------------------------------------------------------------------------------
// The instance, in calling order.

class Instance {
public:
    virtual const char* GetVersion() = 0;
    virtual bool Init(const AppCallbacks& callbacks, const AppSystems& systems) = 0;
    virtual TextSystem* GetTextSystem() = 0;
    virtual Parameters& GetParameters() = 0;
    virtual void SetParameters(const Parameters& parameters) = 0;
    // Kept; the engine caches nothing between loads.
    virtual void SetRAMCacheUsage(uint32_t size, uint32_t minDeadSize, uint32_t maxDeadSize) = 0;
    // Kept; the engine writes nothing to disk and creates no directory.
    virtual void SetDiskCacheUsage(uint32_t size, uint32_t maxFiles, uint32_t maxOpenedFiles, uint32_t minFileSize,
                                   const char* path) = 0;
    // Kept: largest cookie in bytes, total bytes, most cookies per host, directory. The engine keeps no
    // cookies (no scheme it serves sets any).
    virtual void SetCookieUsage(uint32_t maxCookieSize, uint32_t totalSize, uint32_t maxCookiesPerHost,
                                const char* path) = 0;
    // Registers the handler for one scheme (case-insensitive) and calls its Init. A later handler for the
    // same scheme replaces the earlier one.
    virtual void AddTransportHandler(TransportHandler* handler, const char16_t* scheme) = 0;
    virtual void Tick() = 0;
    virtual View* CreateView() = 0; // null before Init
    // Ends every view still open and shuts the handlers down; nothing but Destroy may follow.
    virtual void Shutdown() = 0;
    // Frees the instance (shutting down first when Shutdown was not called).
    virtual void Destroy() = 0;

protected:
    ~Instance() = default;
};

} // namespace eawebkit

// The client's names for the interfaces it implements.
namespace tavrix {
using wkAllocatorBase = eawebkit::Allocator;
using wkClientBase = eawebkit::Client;
using uiEAStreamBase = eawebkit::Stream;
} // namespace tavrix

#define EAWEBKIT_EXPORT __attribute__((visibility("default")))

extern "C" {
// The library's entry point: a new instance, or null.
EAWEBKIT_EXPORT eawebkit::Instance* CreateEAWebkitInstance();
// For tests: writes a view's URI, load state, title, focus, scroll position and recent input events as
// text into buffer (always NUL-terminated when size > 0). Returns the length of the whole text.
EAWEBKIT_EXPORT size_t EAWebkitDebugDescribeView(eawebkit::View* view, char* buffer, size_t size);
}
