// A device that the system lists but that cannot be opened: OpenAL Soft's wave back-end with its output
// file in a folder that does not exist.
#include "soundfixture.h"

namespace sound = tavrix::sound;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend =
    ::testing::AddGlobalTestEnvironment(new tavrix::test::openALBackend("wave", "mono", "missing/out.wav"));

class soundOpenFailTest : public soundFixture {};

TEST_F(soundOpenFailTest, DeviceThatCannotOpenLeavesNothingOpenAndCanBeTriedAgain)
{
    startSound();
    drainWorker();
    ASSERT_NE(sound::getDeviceName(0), nullptr);
    const std::string name = sound::getDeviceName(0);
    const std::string failure = "sound: [t] setOutputDevice(" + name + ") - can't open device (";
    // Every ERROR is the failure to open, with the OpenAL error in its parentheses.
    auto failures = [&] {
        size_t n = 0;
        for (const std::string& line : captured.texts(tavrix::util::LOG_ERROR)) {
            EXPECT_TRUE(line.starts_with(failure) && line.ends_with(").\n")) << line;
            ++n;
        }
        return n;
    };
    EXPECT_EQ(failures(), 1u);
    EXPECT_EQ(sound::getBGMContext(), nullptr);
    EXPECT_FALSE(captured.contains("sound: Set Output Device to: " + name + "\n"));
    // Nothing stayed open, so the next switch tries again rather than being refused.
    sound::setOutputDevice(name.c_str());
    drainWorker();
    EXPECT_EQ(failures(), 2u);
    EXPECT_EQ(sound::getBGMContext(), nullptr);
    stopSound();
    EXPECT_TRUE(captured.contains("sound::worker - terminating\n"));
}

} // namespace
