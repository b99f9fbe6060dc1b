#include "client/uiwebkitclient.h"

#include "client/clientlogger.h"
#include "client/uiwindow.h"
#include "platformlib/util/utf16.h"

namespace tavrix {
namespace {

// The engine's trace (2) and type 6 are not logged.
bool isQuiet(uint32_t type) { return type == eawebkit::kDebugLogTrace || type == 6; }

uiWindow* windowOf(void* userData) { return static_cast<uiWindow*>(userData); }

} // namespace

void uiWebKitClient::LoadUpdate(eawebkit::LoadInfo& info)
{
    uiWindow* window = windowOf(info.userData);
    if (!window) {
        CLIENT_LOG(util::LOG_ERROR, "uiWebKitClient::LoadUpdate() -> no uiWindow given?\n");
        return;
    }
    switch (info.event) {
    case eawebkit::kLoadCompleted:
        window->onLoadCompleted();
        break;
    case eawebkit::kLoadCompletedWithErrors:
        CLIENT_LOG(util::LOG_ERROR, "[UI/%s] -> Load Completed with Errors:\n", window->name);
        window->onLoadCompleted();
        break;
    case eawebkit::kLoadFailed: {
        char uri[256];
        util::utf16ToUtf8(info.uri ? info.uri : u"", uri, sizeof(uri));
        CLIENT_LOG(util::LOG_ERROR, "[UI/%s] -> Failed to Load Ressource '%s' (%d) Code %u\n", window->name, uri, info.number, info.code);
        break;
    }
    default:
        CLIENT_LOG(util::LOG_ERROR, "[UI/%s] -> Event: %d\n", window->name, int32_t(info.event));
        break;
    }
}

void uiWebKitClient::DebugLog(eawebkit::DebugLogInfo& info)
{
    const uint32_t type = info.type;
    uiWindow* window = windowOf(info.userData);
    if (type == eawebkit::kDebugLogWarning && window)
        CLIENT_LOG(util::LOG_WARN, "[UI/%s] %s\n", window->name, info.text);
    else if (!isQuiet(type))
        CLIENT_LOG(util::LOG_WARN, "uiWebKitClient: [@TODO] type(%u) %s\n", type, info.text);
}

void uiWebKitClient::NetworkError(eawebkit::NetworkErrorInfo& info)
{
    if (uiWindow* window = windowOf(info.userData))
        CLIENT_LOG(util::LOG_ERROR, "[UI/%s] Net Error", window->name);
}

void uiWebKitClient::ViewUpdate(eawebkit::ViewUpdateInfo& info)
{
    uiWindow* window = windowOf(info.userData);
    if (window && info.phase == eawebkit::kViewUpdateRepaint)
        window->setNeedsRepaint(true);
}

} // namespace tavrix
