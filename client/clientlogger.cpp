#include "client/clientlogger.h"

#include <GLFW/glfw3.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "client/windowing.h"
#include "platformlib/hooks.h"
#include "platformlib/posix/thread.h"

namespace {

// Stands in while the client logger does not exist (unit tests, threads still running after its
// destruction): every line goes on to the platform logger, which discards it unless another is installed.
// It has no worker of its own.
class forwardingLogger final : public tavrix::util::logger {
public:
    forwardingLogger() : logger(noWorker{}) {}

    void vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                va_list args) override __attribute__((format(printf, 6, 0)))
    {
        platform_getLogger()->vlogEx(level, file, line, function, format, args);
    }
    bool flush(uint32_t milliseconds) override { return platform_getLogger()->flush(milliseconds); }

    int64_t getTime() override { return 0; }
};

// Made on first use and never destroyed: a thread may still log through it while the process ends.
forwardingLogger& fallbackLogger()
{
    static forwardingLogger& fallback = *new forwardingLogger;
    return fallback;
}

std::atomic<tavrix::clientLogger*> theLogger{nullptr};

// What the worker is given at destruction to write what is still queued, before its own bounded joins.
constexpr uint32_t DRAIN_WAIT_MS = 2000;

const char* glSourceName(uint32_t source)
{
    switch (source) {
    case 0x8246:
        return "Api";
    case 0x8247:
        return "WindowSystem";
    case 0x8248:
        return "ShaderCompiler";
    case 0x8249:
        return "ThirdParty";
    case 0x824A:
        return "Application";
    case 0x824B:
        return "Other";
    default:
        return "UNKNOWN";
    }
}

const char* glTypeName(uint32_t type)
{
    switch (type) {
    case 0x824C:
        return "Error";
    case 0x824D:
        return "DeprecatedBehavior";
    case 0x824E:
        return "UndefinedBehavior";
    case 0x824F:
        return "Portability";
    case 0x8250:
        return "Performance";
    case 0x8251:
        return "Other";
    default:
        return "UNKNOWN";
    }
}

const char* glSeverityName(uint32_t severity)
{
    switch (severity) {
    case 0x9146:
        return "High";
    case 0x9147:
        return "Medium";
    case 0x9148:
        return "Low";
    case 0x826B:
        return "Notify";
    default:
        return "UNKOWN";
    }
}

} // namespace

namespace tavrix {

clientLogger::clientLogger()
{
    addLogFile("client.log", 0xFFFF);
    platform_setLogger(this);
}

// Logging stops before this object goes, so that no call reaches its clock half destroyed.
clientLogger::~clientLogger() { stop(); }

int64_t clientLogger::getTime()
{
    if (!windowing::isInitialized())
        return 0;
    return int64_t(glfwGetTime() * 1000.0);
}

void clientLogger::glDebugLogARB(uint32_t source, uint32_t type, uint32_t, uint32_t severity, int32_t,
                                 const char* message, const void*)
{
    CLIENT_LOG(util::LOG_WARN, "GL Debug: [%s] -> %s in %s\nMessage:\n%s\n",
               glSeverityName(severity), glTypeName(type), glSourceName(source), message);
    // Gives the worker time to write the line before the call that caused it goes on.
    sys::sleepMs(500);
}

util::logger* getLogger()
{
    clientLogger* current = theLogger.load(std::memory_order_acquire);
    if (current)
        return current;
    return &fallbackLogger();
}

namespace client {

void createLogger()
{
    auto* created = new clientLogger();
    theLogger.store(created, std::memory_order_release);
    created->enableUDPConsole("client", "127.0.0.1", 5555);
}

bool destroyLogger(bool othersMayLog)
{
    clientLogger* current = theLogger.load(std::memory_order_acquire);
    if (!current)
        return true;
    // A worker stuck in a write never gets through what is queued.
    const bool drained = current->flush(DRAIN_WAIT_MS);
    platform_setLogger(nullptr);
    // Callers from here on get the stand-in, before the object goes away.
    theLogger.store(nullptr, std::memory_order_release);
    // A thread that still holds the logger finds it stopped but whole: calls are then dropped.
    if (!current->stop())
        return false;
    if (!othersMayLog)
        delete current;
    return drained;
}

void logErrorPrintf(const char* format, ...)
{
    clientLogger* current = theLogger.load(std::memory_order_acquire);
    if (!current)
        return;
    char text[8192];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    current->log(util::LOG_ERROR, "%s", text);
}

} // namespace client
} // namespace tavrix
