// The start-up step "VFS" until the content update exists: the local content and the screens' pages.
#include "client/rendermode.h"
#include "client/rmdownload.h"
#include "client/rmloadingscreen.h"
#include "client/vfs.h"

namespace tavrix::vfs {

namespace {
const char* localAssetServerURL = nullptr;
}

void setLocalAssetServer(bool use)
{
    localAssetServerURL = use ? "http://127.0.0.1:8090/" : nullptr;
    if (localAssetServerURL)
        VFS_LOG(util::LOG_INFO, "vfs: _DEBUG -> setting localAssetServerURL to '%s'\n", localAssetServerURL);
}

void postInit()
{
    startCollection();
    prepareLocalContent();
    rmMenu::setURL("file://ui/mainMenu.titleScreen/index.html");
    if (fileExists("data/ui/sys.loadingScreenWindow/index.html"))
        rmLoadingScreen::setURL("file://ui/sys.loadingScreenWindow/index.html");
    if (fileExists("data/ui/sys.downloadWindow/index.html"))
        rmDownload::setURL("file://ui/sys.DownloadWindow/index.html");
}

// No base URL has been chosen yet, so no download can succeed: fail without a request or a screen switch.
bool emergeDownloadAndPatch(const char*, const uint8_t*)
{
    return false;
}

} // namespace tavrix::vfs
