// The music stream heard through OpenAL Soft's wave back-end, which writes what it mixes to a file in
// real time: the samples of that file are compared with the decoded music. The files are mono at 88200
// Hz, so that one block of the stream is a quarter second and the 44100 Hz output (point resampling)
// holds every second sample exactly.
#include <chrono>
#include <filesystem>
#include <thread>

#include "client/bgmstream.h"
#include "client/timer.h"
#include "soundfixture.h"
#include "support/eventually.h"

using namespace std::chrono_literals;
using tavrix::bgmStream;
using tavrix::test::decodeOgg;
using tavrix::test::encodeOgg;
using tavrix::test::eventually;
using tavrix::test::firstLoud;
using tavrix::test::openALBackend;
using tavrix::test::readWave;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend = ::testing::AddGlobalTestEnvironment(new openALBackend("wave"));

constexpr long RATE = 88200;
constexpr long OUTPUT_RATE = 44100;
constexpr uint32_t STEP = RATE / OUTPUT_RATE;

// The music as the output should hold it: every STEP-th sample, at a gain.
struct expectedSound {
    std::vector<int16_t> decoded;
    float gain;
    bool looped;

    size_t length() const { return decoded.size() / STEP; }
    int16_t at(size_t i) const
    {
        const size_t n = looped ? i % length() : i;
        return int16_t(std::lround(decoded[n * STEP] * gain));
    }
    // One step of rounding off at a reduced gain.
    bool matches(int16_t heard, size_t i) const { return std::abs(heard - at(i)) <= (gain == 1.0f ? 0 : 1); }
};

// Where in the output the sound begins, searched around its first loud sample from `from` on; npos
// when it is not there.
size_t findStart(const std::vector<int16_t>& out, const expectedSound& sound, size_t from)
{
    const size_t loud = firstLoud(out, from);
    const size_t lead = firstLoud(std::vector<int16_t>{sound.decoded.begin(), sound.decoded.end()}) / STEP;
    if (loud == std::string::npos)
        return loud;
    for (size_t start = loud > lead + 8 ? loud - lead - 8 : 0; start <= loud; ++start) {
        size_t i = 0;
        while (i < 512 && start + i < out.size() && sound.matches(out[start + i], i))
            ++i;
        if (i == 512)
            return start;
    }
    return std::string::npos;
}

// How many samples from start on match the sound.
size_t matchingRun(const std::vector<int16_t>& out, const expectedSound& sound, size_t start, size_t limit)
{
    size_t i = 0;
    while (i < limit && start + i < out.size() && sound.matches(out[start + i], i))
        ++i;
    return i;
}

// Samples the back-end has written so far; its writes are buffered, so a little less than it mixed. It
// mixes by the clock, and catches up when it ran late.
size_t writtenSamples()
{
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(openALBackend::wavePath, ec);
    return ec || bytes < 44 ? 0 : size_t((bytes - 44) / 2);
}

// Until the output holds that many samples: the waits below count the output's time, not the test's.
void waitForOutput(size_t samples)
{
    ASSERT_TRUE(eventually([&] { return writtenSamples() >= samples; }, std::chrono::seconds(60))) << writtenSamples();
}

bool silent(const std::vector<int16_t>& out, size_t from, size_t to)
{
    for (size_t i = from; i < to && i < out.size(); ++i)
        if (out[i] != 0)
            return false;
    return true;
}

class bgmStreamWaveTest : public soundFixture {
protected:
    std::string file;
    std::vector<int16_t> decoded;

    void makeMusic(double seconds)
    {
        file = encodeOgg(1, RATE, uint32_t(seconds * RATE));
        decoded = decodeOgg(file);
        ASSERT_FALSE(decoded.empty());
        addMusic("tune.ogg", file);
    }
    // The output file once the device is closed.
    std::vector<int16_t> heard()
    {
        stopSound();
        return readWave(openALBackend::wavePath);
    }
    std::vector<std::string> errorsAndWarnings() const
    {
        return captured.texts(tavrix::util::LOG_ERROR | tavrix::util::LOG_WARN);
    }
};

// Played once, then again after a stop request, or with a play alone once it stopped by itself at its
// end (its refill timer gone): each time whole from its beginning, with silence between.
TEST_F(bgmStreamWaveTest, FileWithoutLoopPlaysOnceAndCanBePlayedAgain)
{
    // 2.4 blocks: the last one holds what is left.
    makeMusic(0.6);
    for (const bool stopFirst : {true, false}) {
        captured.clear();
        startSound();
        const int32_t timersBefore = timersInUse();
        {
            bgmStream stream;
            stream.setFile("tune.ogg");
            stream.play(false);
            // Ignored while the stream plays: no second copy, no restart.
            stream.play(false);
            waitForItsEnd(timersBefore);
            // Some silence between the plays.
            waitForOutput(writtenSamples() + OUTPUT_RATE / 2);
            if (stopFirst)
                stream.queueUnloadTask();
            stream.play(false);
            waitForItsEnd(timersBefore);
        }
        const std::vector<int16_t> out = heard();
        const expectedSound once{decoded, 1.0f, false};

        const size_t first = findStart(out, once, 0);
        ASSERT_NE(first, std::string::npos) << stopFirst;
        EXPECT_EQ(matchingRun(out, once, first, once.length()), once.length()) << stopFirst;
        const size_t end = first + once.length();
        const size_t second = findStart(out, once, end);
        ASSERT_NE(second, std::string::npos) << "the second play was ignored " << stopFirst;
        // Nothing between the two plays: the buffers were not queued again.
        EXPECT_GT(second - end, size_t(OUTPUT_RATE / 5)) << stopFirst;
        EXPECT_TRUE(silent(out, end, second)) << stopFirst;
        EXPECT_EQ(matchingRun(out, once, second, once.length()), once.length()) << stopFirst;
        EXPECT_TRUE(silent(out, second + once.length(), out.size())) << stopFirst;
        EXPECT_TRUE(errorsAndWarnings().empty()) << ::testing::PrintToString(errorsAndWarnings());
    }
}

TEST_F(bgmStreamWaveTest, LoopingFileHasNoGapAndIsRefilled)
{
    // 1.2 blocks: the loop point falls inside a block.
    makeMusic(0.3);
    startSound();
    {
        bgmStream stream;
        stream.setFile("tune.ogg");
        stream.play(true);
        drainWorker();
        waitForOutput(writtenSamples() + size_t(2.9 * OUTPUT_RATE));
    }
    const std::vector<int16_t> out = heard();
    const expectedSound looped{decoded, 1.0f, true};
    const size_t start = findStart(out, looped, 0);
    ASSERT_NE(start, std::string::npos);
    // Past the eight buffers queued at the start (2 s of music): the refilled ones follow seamlessly.
    const size_t wanted = size_t(2.5 * OUTPUT_RATE);
    EXPECT_EQ(matchingRun(out, looped, start, wanted), wanted);
    EXPECT_TRUE(errorsAndWarnings().empty()) << ::testing::PrintToString(errorsAndWarnings());
}

TEST_F(bgmStreamWaveTest, VolumeScalesTheSoundUpToFullGain)
{
    makeMusic(0.3);
    startSound();
    const int32_t timersBefore = timersInUse();
    {
        bgmStream stream;
        stream.setFile("tune.ogg");
        stream.setVolume(50);
        stream.play(false);
        waitForItsEnd(timersBefore);
        stream.queueUnloadTask();
        // Above 100 counts as 100.
        stream.setVolume(250);
        stream.play(false);
        waitForItsEnd(timersBefore);
    }
    const std::vector<int16_t> out = heard();
    const expectedSound half{decoded, 0.5f, false};
    const expectedSound full{decoded, 1.0f, false};
    const size_t first = findStart(out, half, 0);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(matchingRun(out, half, first, half.length()), half.length());
    const size_t second = findStart(out, full, first + half.length());
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(matchingRun(out, full, second, full.length()), full.length());
}

TEST_F(bgmStreamWaveTest, StarvedSourceIsRestartedAfterTheRefill)
{
    makeMusic(0.3);
    startSound();
    {
        bgmStream stream;
        stream.setFile("tune.ogg");
        stream.play(true);
        std::this_thread::sleep_for(300ms);
        // The worker is held up while half a second more output than the eight queued buffers hold is mixed.
        onWorker([] { waitForOutput(writtenSamples() + size_t(2.5 * OUTPUT_RATE)); });
        waitForOutput(writtenSamples() + OUTPUT_RATE);
    }
    const std::vector<int16_t> out = heard();
    EXPECT_GE(count("bgmStream::_update() can't keep up refilling buffers, system busy?\n"), 1u);

    const expectedSound looped{decoded, 1.0f, true};
    const size_t start = findStart(out, looped, 0);
    ASSERT_NE(start, std::string::npos);
    const size_t dry = start + matchingRun(out, looped, start, out.size());
    // All eight buffers played out, then silence until the refill started the source again.
    EXPECT_GE(dry - start, size_t(1.9 * OUTPUT_RATE));
    const size_t again = firstLoud(out, dry + OUTPUT_RATE / 10);
    ASSERT_NE(again, std::string::npos);
    EXPECT_GT(again, dry + OUTPUT_RATE / 10);
    EXPECT_TRUE(silent(out, dry + 64, again - 64));
    // It plays on from there.
    EXPECT_NE(firstLoud(out, again + OUTPUT_RATE / 2), std::string::npos);
}

} // namespace
