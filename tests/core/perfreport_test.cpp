// The performance report's datagram, taken by a real UDP socket on the console's port.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/clientlogger.h"
#include "client/ui.h"
#include "support/tempdir.h"
#include "support/udplistener.h"

namespace {

int32_t le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + i]);
    return int32_t(value);
}

TEST(perfReport, beforeTheFirstFrameSendsZeroFpsAndTheInterfaceRate)
{
    tavrix::test::tempDir dir;
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());

    // The interface's last cycle in ms and the rate the report derives from it; 0 ms counts as 1.
    const struct {
        int32_t uiMs;
        int32_t uiFps;
    } cases[] = {{0, 1000}, {1, 1000}, {3, 333}, {2000, 0}};
    tavrix::client::createLogger();
    for (const auto& c : cases) {
        tavrix::ui::lastFrameMs = c.uiMs;
        EXPECT_FALSE(tavrix::client::perfReport(0, nullptr, nullptr)) << "the timer stays armed";
    }
    tavrix::client::destroyLogger();

    std::vector<std::string> perf;
    for (const auto& d : console.receiveUntil('S', 5000))
        if (!d.empty() && d[0] == 'P')
            perf.push_back(d);
    ASSERT_EQ(perf.size(), std::size(cases));
    for (size_t i = 0; i < perf.size(); ++i) {
        SCOPED_TRACE(cases[i].uiMs);
        ASSERT_EQ(perf[i].size(), 13u);
        EXPECT_EQ(le32(perf[i], 1), 0) << "no frame stamp yet";
        EXPECT_EQ(le32(perf[i], 5), 0) << "no frame yet: 0 frames per second";
        EXPECT_EQ(le32(perf[i], 9), cases[i].uiFps);
    }
}

} // namespace
