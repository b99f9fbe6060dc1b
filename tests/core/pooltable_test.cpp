// The client's table of element pools, and a pool built from its row.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client/cvar.h"
#include "client/pooltable.h"
#include "core/coremodules.h"

namespace {

TEST(poolSettings, everyPoolHasItsKeysUnderItsPrefix)
{
    std::vector<std::string> names;
    for (const tavrix::poolSettings* p : tavrix::pools::all) {
        SCOPED_TRACE(p->name);
        EXPECT_EQ(std::string(p->allocStepKey), std::string(p->keyPrefix) + ".allocStep");
        EXPECT_EQ(std::string(p->initialAllocKey), std::string(p->keyPrefix) + ".initialAlloc");
        names.push_back(p->name);
    }
    EXPECT_EQ(names.size(), 12u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(tavrix::pools::timerListEntry.largePages, 1);
    EXPECT_EQ(tavrix::pools::worldBlock.initialAlloc, 3407360u);
}

struct element {
    char bytes[48];
};

// A value already in the store wins over the row's default, and both settings are kept in ./cvar.db.
TEST(poolSettings, makePoolReadsItsSettingsAndRegistersThemPersistent)
{
    tavrix::test::moduleRun run{tavrix::test::ALLOCATOR, tavrix::test::CVARS, tavrix::test::TIMERS};
    const tavrix::poolSettings& row = tavrix::pools::soundTask;
    tavrix::cvar::set(row.initialAllocKey, 1000);
    Pool<element>* pool = tavrix::makePool<element>(row);
    int32_t total = 0, free = 0, peak = 0;
    pool->getStats(total, free, peak);
    EXPECT_GE(total, 1000);
    EXPECT_EQ(tavrix::cvar::getI32(row.allocStepKey), int32_t(row.allocStep));
    delete pool;
    run.stop();
    const std::string saved = run.dir.read("cvar.db");
    EXPECT_NE(saved.find("20:sound.task.allocStep:i:256\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("23:sound.task.initialAlloc:i:1000\n"), std::string::npos) << saved;
}

} // namespace
