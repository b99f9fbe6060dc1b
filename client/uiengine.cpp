#include "client/uilocal.h"

#include <GLFW/glfw3.h>

#include <cstdio>
#include <cstring>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/uieavfsmemorystream.h"
#include "client/uivfstransporthandlerassetscheme.h"
#include "client/uiwebkitallocator.h"
#include "client/uiwebkitclient.h"
#include "client/vfs.h"
#include "platformlib/posix/dynlib.h"
#include "platformlib/util/exception.h"
#include "webengine/eawebkit.h"

namespace tavrix::ui {

namespace {

constexpr char ENGINE_VERSION[] = "13.3.2.0.0";
constexpr uint32_t PATH_BUFFER = 128;

constexpr const char* FONT_FAMILIES[] = {"LiberationMono", "LiberationSerif", "LiberationSans"};
constexpr const char* FONT_STYLES[] = {"Regular", "Italic", "Bold", "BoldItalic"};
constexpr uint32_t FONT_STYLE_COUNT = sizeof(FONT_STYLES) / sizeof(FONT_STYLES[0]);
constexpr uint32_t FONT_FACE_COUNT = sizeof(FONT_FAMILIES) / sizeof(FONT_FAMILIES[0]) * FONT_STYLE_COUNT;
// How often the worker's cycle looks for faces the content store did not have yet.
constexpr int32_t FONT_RETRY_MS = 250;

char libraryName[32];

// ---------------------------------------------------------------------------------------------------
// Loading the engine, on the main thread.

eawebkit::Instance* createFromLibrary()
{
    std::snprintf(libraryName, sizeof(libraryName), "EAWebKit%c.%s", 'd', sys::dynLib::extension());
    try {
        state.library = new sys::dynLib(libraryName);
    } catch (util::Exception* e) {
        FatalErrorException* fatal = new FatalErrorException(__FILE__, __LINE__, TAVRIX_FUNC, "Failed to load required Shared Library (WebKit)\nMessage: %s", e->getMessage());
        delete e;
        throw fatal;
    }
    auto create = reinterpret_cast<eawebkit::Instance* (*)()>(state.library->getProcAddress("CreateEAWebkitInstance"));
    if (!create)
        TAVRIX_FATAL("Failed to load required Shared Library (WebKit)[1]\n");
    return create();
}

} // namespace

void initEAWebkit()
{
    state.engine = state.factory ? state.factory() : createFromLibrary();
    if (!state.engine)
        TAVRIX_FATAL("Failed to create WebKit Instance\n");
    const char* version = state.engine->GetVersion();
    if (!version || std::strcmp(version, ENGINE_VERSION) != 0)
        TAVRIX_FATAL("WebKit Version Verification failed\nBuild against: %s\nGot: %s\n", ENGINE_VERSION, version ? version : "");
    state.allocator = new uiWebKitAllocator;
    state.client = new uiWebKitClient;
    state.transport = new uiVFSTransportHandlerAssetScheme;
}

void releaseEngine()
{
    if (state.engine)
        state.engine->Destroy();
    state.engine = nullptr;
    delete state.allocator;
    state.allocator = nullptr;
    delete state.client;
    state.client = nullptr;
    delete state.transport;
    state.transport = nullptr;
    delete state.library;
    state.library = nullptr;
}

// ---------------------------------------------------------------------------------------------------
// The engine's set-up, on the worker.

namespace {

uint32_t cvarU32(const char* name, int32_t value)
{
    cvar::initialize(name, value, 1);
    return uint32_t(cvar::getI32(name));
}

void readPath(const char* name, const char* value, char (&path)[PATH_BUFFER])
{
    cvar::initialize(name, value, 0, 1);
    uint32_t length = sizeof(path);
    cvar::getStr(name, path, &length);
}

// The engine reads each face whole before AddFace returns; the stream holds its own reference meanwhile,
// so the engine's release never destroys it under the engine.
bool addFace(eawebkit::TextSystem* text, const char* path)
{
    bool added = false;
    try {
        uiEAVFSMemoryStream* stream = new uiEAVFSMemoryStream(path);
        stream->AddRef();
        added = text->AddFace(stream);
        stream->Release();
    } catch (VFSMemoryStreamException* e) {
        delete e;
    }
    return added;
}

void facePath(uint32_t face, char (&path)[PATH_BUFFER])
{
    std::snprintf(path, sizeof(path), "data/ui/shared/font/%s-%s.%s", FONT_FAMILIES[face / FONT_STYLE_COUNT],
                  FONT_STYLES[face % FONT_STYLE_COUNT], "ttf");
}

// At the set-up every face, each one missing logged; those are kept for addMissingFonts.
void addFonts(eawebkit::TextSystem* text)
{
    state.missingFaces = 0;
    state.refusedFaces = 0;
    state.lastFontTry = getTimeMs();
    for (uint32_t face = 0; face < FONT_FACE_COUNT; ++face) {
        char path[PATH_BUFFER];
        facePath(face, path);
        if (addFace(text, path))
            continue;
        state.missingFaces |= 1u << face;
        CLIENT_LOG(util::LOG_ERROR, "Failed to load Font(%s-%s)\n", FONT_FAMILIES[face / FONT_STYLE_COUNT], FONT_STYLES[face % FONT_STYLE_COUNT]);
    }
}

// The faces of the mask that the content store has now; the engine's pages draw with them from their
// next update.
void addStoredFaces(uint32_t faces)
{
    if (!faces)
        return;
    eawebkit::TextSystem* text = state.engine->GetTextSystem();
    for (uint32_t face = 0; face < FONT_FACE_COUNT; ++face) {
        const uint32_t bit = 1u << face;
        if (!(faces & bit))
            continue;
        char path[PATH_BUFFER];
        facePath(face, path);
        if (!vfs::fileExists(path))
            continue;
        if (!addFace(text, path)) {
            state.refusedFaces |= bit;
            continue;
        }
        state.missingFaces &= ~bit;
        state.refusedFaces &= ~bit;
        CLIENT_LOG(util::LOG_INFO, "Loaded Font(%s-%s) once the content store had it\n", FONT_FAMILIES[face / FONT_STYLE_COUNT], FONT_STYLES[face % FONT_STYLE_COUNT]);
    }
}

} // namespace

// The content store lists its files only once the start-up's "VFS" step has run, after the engine's
// set-up; the screens' pages come from it after that step too.
void addMissingFonts() { addStoredFaces(state.missingFaces); }

// The loading screen's page is shown before that step, and on a fresh install the faces come with the
// content update: the cycle looks for them, so the screens' texts appear once they are in.
void retryMissingFonts(int32_t now)
{
    const uint32_t faces = state.missingFaces & ~state.refusedFaces;
    if (!faces || !isDue(state.lastFontTry, now, FONT_RETRY_MS))
        return;
    state.lastFontTry = now;
    addStoredFaces(faces);
}

namespace {

void setFontFamily(eawebkit::Parameters& parameters, uint32_t slot, const char16_t* family)
{
    char16_t* out = parameters.fontFamilies[slot];
    size_t i = 0;
    for (; family[i] && i + 1 < eawebkit::kFontFamilyNameChars; ++i)
        out[i] = family[i];
    out[i] = 0;
}

void setParameters(eawebkit::Instance* engine)
{
    eawebkit::Parameters parameters = engine->GetParameters();
    cvar::initialize("ui.wk.DefaultJSStackSize", 1048576, 1);
    cvar::initialize("ui.wk.IgnoreColorProfile", 1, 1);
    cvar::initialize("ui.wk.minFontSizeForSmoothing", 0, 1);
    std::snprintf(parameters.applicationName, sizeof(parameters.applicationName), "%s", "Tavrix");
    std::snprintf(parameters.userAgent, sizeof(parameters.userAgent), "%s", getUserAgent());
    parameters.javaScriptStackSize = uint32_t(cvar::getI32("ui.wk.DefaultJSStackSize"));
    parameters.ignoreColorProfile = cvar::getBool("ui.wk.IgnoreColorProfile");
    parameters.minFontSizeForSmoothing = uint32_t(cvar::getI32("ui.wk.minFontSizeForSmoothing"));
    for (uint32_t slot = 0; slot < eawebkit::kFontSlotCount; ++slot)
        setFontFamily(parameters, slot, slot == eawebkit::kFontMonospace ? u"Liberation Mono" : u"Liberation Sans");
    parameters.pluginsEnabled = false;
    engine->SetParameters(parameters);
}

void setCaches(eawebkit::Instance* engine)
{
    const uint32_t ramSize = cvarU32("ui.wk.ramcache.size", 134217728);
    const uint32_t ramMinDead = cvarU32("ui.wk.ramcache.minDeadSize", 0);
    const uint32_t ramMaxDead = cvarU32("ui.wk.ramcache.maxDeadSize", 33554432);
    engine->SetRAMCacheUsage(ramSize, ramMinDead, ramMaxDead);

    const uint32_t diskSize = cvarU32("ui.wk.diskcache.size", 134217728);
    const uint32_t maxFiles = cvarU32("ui.wk.diskcache.maxNoFiles", 16384);
    const uint32_t maxOpened = cvarU32("ui.wk.diskcache.maxNoOpened", 64);
    const uint32_t minFileSize = cvarU32("ui.wk.diskcache.minFileSize", 1024);
    char path[PATH_BUFFER];
    readPath("ui.wk.diskcache.path", "cache/webkit/", path);
    engine->SetDiskCacheUsage(diskSize, maxFiles, maxOpened, minFileSize, path);

    const uint32_t cookieSize = cvarU32("ui.wk.cookie.size", 8388608);
    readPath("ui.wk.cookie.path", "cache/cookie/", path);
    engine->SetCookieUsage(4096, cookieSize, 256, path);
}

} // namespace

void setUpEngine(eawebkit::Instance* engine)
{
    const eawebkit::AppCallbacks callbacks{glfwGetTime, {nullptr, nullptr, nullptr, nullptr}};
    // Read for its setting only: the engine always runs on its own heap.
    cvar::initialize("ui.wk.useDefaultAllocator", 1, 1);
    cvar::getI32("ui.wk.useDefaultAllocator");
    const eawebkit::AppSystems systems{nullptr, {nullptr, nullptr, nullptr}, state.client};
    if (!engine->Init(callbacks, systems))
        TAVRIX_FATAL("Webkit Initialization failed (this should never happen) [wk-0]");
    addFonts(engine->GetTextSystem());
    setParameters(engine);
    setCaches(engine);
    engine->AddTransportHandler(state.transport, u"file");
}

} // namespace tavrix::ui
