// Interim texture manager: no textures are loaded.
#include "client/texturemgr.h"

#include "client/clientlogger.h"

namespace tavrix::textureMgr {
void init()
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "textureMgr: interim version - no textures\n");
}
void final() {}
void loadDefaultTexture() {}
} // namespace tavrix::textureMgr
