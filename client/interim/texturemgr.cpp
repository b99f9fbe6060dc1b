// Interim texture manager: no textures are loaded.
#include "client/texturemgr.h"

#include "client/clientlogger.h"

namespace tavrix::textureMgr {
void init()
{
    CLIENT_LOG(util::LOG_INFO, "textureMgr: interim version - no textures\n");
}
void final() {}
void loadDefaultTexture() {}
} // namespace tavrix::textureMgr
