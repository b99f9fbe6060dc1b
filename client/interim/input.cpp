// Interim input routing: no callback is installed.
#include "client/input.h"

#include "client/clientlogger.h"

namespace tavrix::Input {
void init(GLFWwindow*)
{
    CLIENT_LOG(util::LOG_INFO, "Input: interim version - window input not routed\n");
}
void final() {}
} // namespace tavrix::Input
