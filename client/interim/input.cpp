// Interim input routing: no callback is installed.
#include "client/input.h"

#include "client/clientlogger.h"

namespace tavrix::Input {
void init(GLFWwindow*)
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Input: interim version - window input not routed\n");
}
void final() {}
} // namespace tavrix::Input
