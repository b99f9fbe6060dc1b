// The process entry: the outermost frame, where an exception that escapes on the main thread becomes a
// report for the user.
#include <GLFW/glfw3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "client/client.h"
#include "client/clientlogger.h"
#include "client/windowing.h"
#include "platformlib/platform.h"
#include "platformlib/posix/signals.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::main {

// The message box of this platform: its title and text on stderr; nothing waits for the user.
void showErrorBox(const char* format, ...) __attribute__((format(printf, 1, 2)));
void showErrorBox(const char* format, ...)
{
    char text[8192];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n%s\n", "Error", text);
    std::fflush(stderr);
}

// The handlers of the protected region: call it inside a catch block, with the location of the entry.
// The report is logged at ERROR, then shown; the handler owns and deletes a thrown exception object.
void reportEscaped(const char* file, int32_t line, const char* function)
{
    char text[16384 + 1024];
    platform_formatUncaught(text, sizeof(text));
    getLogger()->logEx(util::LOG_ERROR, file, line, function, "%s", text);
    showErrorBox("%s", text);
}

} // namespace tavrix::main

void glfw_error_callback(int error, const char* description)
{
    CLIENT_LOG(tavrix::util::LOG_ERROR, "{GLFW}: [%u]: %s\n", unsigned(error), description);
}

// Returns 0 on every path: the exit code does not tell success from failure.
int WinMain(void*, void*, char*, int)
{
    tavrix::client::createLogger();
    bool escaped = false;
    try {
        platform_init();
        glfwSetErrorCallback(glfw_error_callback);
        if (tavrix::windowing::init() != GLFW_TRUE)
            TAVRIX_FATAL("failed to initialize OS Abstraction Layer\n");
        if (tavrix::client::init()) {
            CLIENT_LOG(tavrix::util::LOG_INFO, "Initialization successful\n");
            tavrix::client::run();
        } else {
            CLIENT_LOG(tavrix::util::LOG_ERROR, "Initialization Failed.\n");
        }
        CLIENT_LOG(tavrix::util::LOG_INFO, "Finalization - Begin\n");
        tavrix::client::final();
        CLIENT_LOG(tavrix::util::LOG_INFO, "Finalization - Finished\n");
        tavrix::windowing::terminate();
        if (tavrix::util::workerLeftBehind())
            CLIENT_LOG(tavrix::util::LOG_WARN, "Finalization - a worker outlived its stop: the memory kept for it is not released and no leak report is written\n");
        else
            platform_final();
    } catch (...) {
        tavrix::main::reportEscaped(__FILE__, __LINE__, TAVRIX_FUNC);
        escaped = true;
    }
    // After an escape the threads that the start-up created still run and may log: the logger is kept for
    // them, and the process ends here, before the static objects they use are destroyed under them. A
    // logger worker left behind in a write holds the log file: the exit's flush of every open file would
    // wait on it for good. A worker left behind by a module's stop may still run on what the static objects
    // hold as well.
    const bool loggerDone = tavrix::client::destroyLogger(escaped);
    if (escaped || !loggerDone || tavrix::util::workerLeftBehind())
        std::_Exit(0);
    return 0;
}

int main()
{
    // Until the window exists a close request has nothing to close: it waits, where it would end the process.
    tavrix::sys::blockCloseSignals();
    char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, 0);
}
