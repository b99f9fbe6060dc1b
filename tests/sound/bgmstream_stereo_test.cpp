// A stereo file heard through OpenAL Soft's wave back-end with a stereo output: each channel's tone
// arrives on its own side.
#include <chrono>
#include <cmath>
#include <thread>

#include "client/bgmstream.h"
#include "soundfixture.h"

using namespace std::chrono_literals;
using tavrix::bgmStream;
using tavrix::test::encodeOgg;
using tavrix::test::firstLoud;
using tavrix::test::openALBackend;
using tavrix::test::readWave;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend = ::testing::AddGlobalTestEnvironment(new openALBackend("wave", "stereo"));

constexpr long RATE = 44100;

// The power at one frequency of one channel of interleaved stereo samples (Goertzel).
double power(const std::vector<int16_t>& out, size_t channel, size_t fromFrame, size_t frames, double hz)
{
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / RATE);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double s0 = out[(fromFrame + i) * 2 + channel] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

class bgmStreamStereoTest : public soundFixture {};

TEST_F(bgmStreamStereoTest, LeftAndRightTonesStayOnTheirSides)
{
    // The left channel sounds at 440 Hz, the right one at 550 Hz.
    addMusic("stereo.ogg", encodeOgg(2, RATE, uint32_t(RATE / 2)));
    startSound();
    const int32_t timersBefore = timersInUse();
    {
        bgmStream stream;
        stream.setFile("stereo.ogg");
        stream.play(false);
        waitForItsEnd(timersBefore);
    }
    stopSound();
    const std::vector<int16_t> out = readWave(openALBackend::wavePath);
    const size_t loud = firstLoud(out);
    ASSERT_NE(loud, std::string::npos);
    const size_t from = loud / 2 + RATE / 20;
    const size_t frames = RATE / 4;
    ASSERT_LE((from + frames) * 2, out.size());
    const double left440 = power(out, 0, from, frames, 440), left550 = power(out, 0, from, frames, 550);
    const double right440 = power(out, 1, from, frames, 440), right550 = power(out, 1, from, frames, 550);
    EXPECT_GT(left440, 100 * left550);
    EXPECT_GT(right550, 100 * right440);
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR | tavrix::util::LOG_WARN).empty())
        << ::testing::PrintToString(captured.texts());
}

} // namespace
