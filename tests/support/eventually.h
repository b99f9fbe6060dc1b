#pragma once
// Waits for a condition another thread makes true: polled until it holds, or false once the limit (generous:
// a loaded machine runs the other thread late) is up.
#include <chrono>
#include <thread>

namespace tavrix::test {

constexpr std::chrono::milliseconds EVENTUALLY_LIMIT{30000};

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = EVENTUALLY_LIMIT)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace tavrix::test
