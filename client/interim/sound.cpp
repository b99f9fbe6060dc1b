// Interim sound: no device is opened.
#include "client/sound.h"

#include "client/clientlogger.h"

namespace tavrix::sound {
void init()
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "sound: interim version - no output device\n");
}
void final() {}
} // namespace tavrix::sound
