#include "support/modulerun.h"

#include <cstring>

#include "platformlib/allocator/roalloc.h"

namespace tavrix::test {

const testModule ALLOCATOR = {"allocator", roalloc_init, roalloc_final};

moduleRun::~moduleRun()
{
    stop();
    EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
}

void moduleRun::start(std::initializer_list<testModule> modules)
{
    for (const testModule& module : modules) {
        if (module.start)
            module.start();
        running.push_back(module);
    }
}

void moduleRun::stop(const char* downTo)
{
    if (downTo && !isRunning(downTo))
        return;
    while (!running.empty()) {
        const testModule module = running.back();
        running.pop_back();
        if (module.stop)
            module.stop();
        if (downTo && std::strcmp(module.name, downTo) == 0)
            return;
    }
}

bool moduleRun::isRunning(const char* name) const
{
    for (const testModule& module : running)
        if (std::strcmp(module.name, name) == 0)
            return true;
    return false;
}

} // namespace tavrix::test
