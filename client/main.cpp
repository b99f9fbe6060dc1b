// The process entry: the outermost frame, where an exception that escapes on the main thread becomes a
// report for the user.
#include <GLFW/glfw3.h>

#include <cstdarg>
#include <cstdio>

#include "client/client.h"
#include "client/clientlogger.h"
#include "client/windowing.h"
#include "platformlib/platform.h"
#include "platformlib/util/exception.h"

namespace tavrix::main {

constexpr char FATAL_REPORT[] = "An Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\n%s\n\nFile: %s:%u\nFunction: %s\n";
constexpr char EXCEPTION_REPORT[] = "An unhandled Exception occured,\nif this Problem persists, please contact us\n\nDetail:\n%s\n\nFile: %s:%u\nFunction: %s\n";
constexpr char UNKNOWN_REPORT[] = "An unknown unhandled Exception occured,\nif this Problem persists, please contact us\n";

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
    auto* out = getLogger();
    try {
        throw;
    } catch (FatalErrorException* e) {
        out->logEx(util::LOG_ERROR, file, line, function, FATAL_REPORT, e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        showErrorBox(FATAL_REPORT, e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        delete e;
    } catch (util::Exception* e) {
        out->logEx(util::LOG_ERROR, file, line, function, EXCEPTION_REPORT, e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        showErrorBox(EXCEPTION_REPORT, e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        delete e;
    } catch (...) {
        out->logEx(util::LOG_ERROR, file, line, function, UNKNOWN_REPORT);
        showErrorBox(UNKNOWN_REPORT);
    }
}

} // namespace tavrix::main

void glfw_error_callback(int error, const char* description)
{
    tavrix::getLogger()->logEx(tavrix::util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "{GLFW}: [%u]: %s\n", unsigned(error), description);
}

// Returns 0 on every path: the exit code does not tell success from failure.
int WinMain(void*, void*, char*, int)
{
    tavrix::client::createLogger();
    try {
        platform_init();
        glfwSetErrorCallback(glfw_error_callback);
        if (tavrix::windowing::init() != GLFW_TRUE)
            TAVRIX_FATAL("failed to initialize OS Abstraction Layer\n");
        auto* out = tavrix::getLogger();
        if (tavrix::client::init()) {
            out->logEx(tavrix::util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Initialization successful\n");
            tavrix::client::run();
        } else {
            out->logEx(tavrix::util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "Initialization Failed.\n");
        }
        out->logEx(tavrix::util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Finalization - Begin\n");
        tavrix::client::final();
        out->logEx(tavrix::util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "Finalization - Finished\n");
        tavrix::windowing::terminate();
        platform_final();
    } catch (...) {
        tavrix::main::reportEscaped(__FILE__, __LINE__, TAVRIX_FUNC);
    }
    tavrix::client::destroyLogger();
    return 0;
}

int main()
{
    char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, 0);
}
