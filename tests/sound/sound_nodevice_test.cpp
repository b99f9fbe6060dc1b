// A machine without an output device: OpenAL Soft with no back-end it can use lists no device, and
// sound turns itself off.
#include "client/bgmstream.h"
#include "platformlib/util/exception.h"
#include "soundfixture.h"

namespace sound = tavrix::sound;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend = ::testing::AddGlobalTestEnvironment(new tavrix::test::openALBackend("no-such-backend"));

class soundNoDeviceTest : public soundFixture {};

TEST_F(soundNoDeviceTest, SoundIsDisabledAndFinalOnlyLogs)
{
    captured.clear();
    startSound();
    EXPECT_EQ(captured.texts(), (std::vector<std::string>{"sound: Initialization\n", "sound: found 0 output devices\n",
                                                          "sound: no Output devices found - disabling sound.\n"}));
    // Nothing to switch to, and no worker to queue for.
    sound::setOutputDevice("No Output");
    EXPECT_EQ(sound::getBGMContext(), nullptr);
    captured.clear();
    stopSound();
    EXPECT_EQ(captured.texts(), std::vector<std::string>{"sound: final - sound disabled - nothing to cleanup.\n"});
}

TEST_F(soundNoDeviceTest, MusicStreamCannotBeMadeWithoutDevice)
{
    startSound();
    captured.clear();
    try {
        tavrix::bgmStream stream;
        ADD_FAILURE() << "no exception";
    } catch (tavrix::util::Exception* error) {
        EXPECT_STREQ(error->getMessage(), "source-creation failed");
        delete error;
    }
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR), std::vector<std::string>{"bgmStream::bgmstream() -> source-creation failed\n"});
}

} // namespace
