#pragma once
// Engine calls let no exception of the engine's own out: a failure ends the call with its fallback.
#include <exception>
#include <utility>

namespace eawebkit::engine {

// For a failure that has no one to be reported to.
inline void ignore(const char*) {}

template <class Report>
void reportFailure(Report&& report, const std::exception& e) noexcept
{
    try {
        report(e.what());
    } catch (const std::exception&) {
    }
}

template <class Result, class Body, class Report>
Result guarded(Result fallback, Body&& body, Report&& report)
{
    try {
        return body();
    } catch (const std::exception& e) {
        reportFailure(report, e);
        return fallback;
    }
}

template <class Body, class Report>
void guarded(Body&& body, Report&& report)
{
    try {
        body();
    } catch (const std::exception& e) {
        reportFailure(report, e);
    }
}

} // namespace eawebkit::engine
