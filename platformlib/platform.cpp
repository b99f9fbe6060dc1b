#include "platformlib/platform.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/cpuinfo.h"

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
