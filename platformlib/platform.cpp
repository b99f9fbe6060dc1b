#include "platformlib/platform.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/cpuinfo.h"
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

void platform_setTimerSystem(timerSystem* timers)
{
    platformTimers.store(timers, std::memory_order_release);
    PLATFORM_LOG(tavrix::util::LOG_INFO, "[Platform] Timer System set!\n");
}

timerSystem* platform_getTimerSystem() { return platformTimers.load(std::memory_order_acquire); }

namespace {
void platform_preInit() {}
} // namespace

void platform_init()
{
    platform_preInit();
    roalloc_init();
    tavrix::cpuinfo_init();
}

void platform_final() { roalloc_final(); }

const char* platform_getBuildDate() { return __DATE__ " " __TIME__; }

int32_t platform_buildNumberOf(const char* buildDate)
{
    static constexpr const char* monthNames[11] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov"};
    static constexpr int32_t monthDays[11] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30};

    int32_t month = 0;
    int32_t daysBefore = 0;
    while (month < 11) {
        bool same = true;
        for (int i = 0; i < 3 && same; ++i)
            same = std::tolower(static_cast<unsigned char>(buildDate[i])) ==
                   std::tolower(static_cast<unsigned char>(monthNames[month][i]));
        if (same)
            break;
        daysBefore += monthDays[month];
        ++month;
    }
    const size_t length = std::strlen(buildDate);
    const int32_t day = length > 4 ? std::atoi(buildDate + 4) : 0;
    const int32_t year = length > 7 ? std::atoi(buildDate + 7) : 0;

    int32_t n = int32_t((year - 1901) * 365.25) + daysBefore + day - 1;
    if ((year - 1900) % 4 == 0 && month > 1)
        ++n;
    return n - 41193;
}

int32_t platform_getBuildNumber()
{
    static const int32_t buildNumber = platform_buildNumberOf(platform_getBuildDate());
    return buildNumber;
}

const char* platform_getVersionString()
{
    static char version[512];
    static const bool formatted = [] {
        std::snprintf(version, sizeof(version), "%u.%u.%s-%s #%u (%s)", 1u, 0u, "0", "feature/EAWebKit",
                      uint32_t(platform_getBuildNumber()), platform_getBuildDate());
        return true;
    }();
    (void)formatted;
    return version;
}

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
