#include "platformlib/hooks.h"

#include <atomic>
#include <cstdio>
#include <exception>

#include "platformlib/posix/sysinfo.h"
#include "platformlib/util/exception.h"

namespace {

// Discards everything; the platform logger until the client installs its own.
class nullLoggerType final : public tavrix::util::loggerInterface {
public:
    constexpr nullLoggerType() = default;
    void vlogEx(uint32_t, const char*, int32_t, const char*, const char*, va_list) override {}
    bool flush(uint32_t) override { return true; }
};

// Constant-initialised, so the pointer is valid before any constructor of another translation unit runs.
constinit nullLoggerType nullLogger;
// Swapped on the main thread while other threads may be logging: each call sees the old or the new one.
constinit std::atomic<tavrix::util::loggerInterface*> platformLogger{&nullLogger};
constinit std::atomic<timerSystem*> platformTimers{nullptr};

} // namespace

void platform_setLogger(tavrix::util::loggerInterface* logger)
{
    platformLogger.store(logger ? logger : &nullLogger, std::memory_order_release);
    PLATFORM_LOG(tavrix::util::LOG_INFO, "[Platform] Acquired this logger for [Platform] logging\n");
}

tavrix::util::loggerInterface* platform_getLogger() { return platformLogger.load(std::memory_order_acquire); }

// Clearing it at shutdown sets nothing, so nothing is announced.
void platform_setTimerSystem(timerSystem* timers)
{
    platformTimers.store(timers, std::memory_order_release);
    if (timers)
        PLATFORM_LOG(tavrix::util::LOG_INFO, "[Platform] Timer System set!\n");
}

timerSystem* platform_getTimerSystem() { return platformTimers.load(std::memory_order_acquire); }

void platform_flushAndExit(int status) noexcept
{
    platform_getLogger()->flush(2000);
    tavrix::sys::exitProcess(status);
}

void platform_formatUncaught(char* buffer, size_t size) noexcept
{
    std::snprintf(buffer, size, "An unknown unhandled Exception occured,\nif this Problem persists, please contact us\n");
    if (!std::current_exception())
        return;
    try {
        throw;
    } catch (FatalErrorException* e) {
        std::snprintf(buffer, size, "An Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\n%s\n\nFile: %s:%u\nFunction: %s\n", e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        delete e;
    } catch (tavrix::util::Exception* e) {
        std::snprintf(buffer, size, "An unhandled Exception occured,\nif this Problem persists, please contact us\n\nDetail:\n%s\n\nFile: %s:%u\nFunction: %s\n", e->getMessage(), e->getFile(), uint32_t(e->getLine()), e->getFunction());
        delete e;
    } catch (...) {
    }
}

void platform_exitOnUncaught() noexcept
{
    char text[16384 + 1024];
    platform_formatUncaught(text, sizeof(text));
    // The process ends right after the report: it goes to the terminal as well as the log.
    PLATFORM_LOG(tavrix::util::LOG_ERROR, "%s", text);
    std::fputs(text, stderr);
    platform_flushAndExit(1);
}
