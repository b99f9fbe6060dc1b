#pragma once
// One test's run of modules: a temporary directory of its own and every log line captured, then the
// modules started in the order given and stopped in reverse; once the run ends, the tracking allocator
// must have written no leak report.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "support/capturelogger.h"
#include "support/tempdir.h"

namespace tavrix::test {

// A module as a test starts it. Either function may be null: a step that only sets something up between
// two modules has no stop.
struct testModule {
    const char* name;
    void (*start)();
    void (*stop)();
};

// The tracking allocator, first of every run that allocates.
extern const testModule ALLOCATOR;

class moduleRun {
public:
    tempDir dir;
    captureLogger captured;

    moduleRun() = default;
    explicit moduleRun(std::initializer_list<testModule> modules) { start(modules); }
    ~moduleRun();
    moduleRun(const moduleRun&) = delete;
    moduleRun& operator=(const moduleRun&) = delete;

    // After those already running.
    void start(std::initializer_list<testModule> modules);
    // The modules started last, down to the one of that name (which stops too); nothing when it is not
    // running. Without a name, every module.
    void stop(const char* downTo = nullptr);
    bool isRunning(const char* name) const;

private:
    std::vector<testModule> running;
};

// The same as a GoogleTest fixture: SetUp starts the modules, the run ends after TearDown.
class moduleTest : public ::testing::Test, public moduleRun {};

} // namespace tavrix::test
