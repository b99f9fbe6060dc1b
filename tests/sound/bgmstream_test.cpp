// The music stream on OpenAL Soft's null back-end: files that cannot be played, the decoder's view of
// the file in memory, the thread every OpenAL call runs on, and destruction while the refill timer
// still reaches for the stream.
#include <dlfcn.h>
#include <pthread.h>

#include <AL/al.h>
#include <AL/alc.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "client/bgmstream.h"
#include "soundfixture.h"

using namespace std::chrono_literals;
using tavrix::bgmStream;
using tavrix::test::encodeOgg;
using tavrix::test::eventually;
using tavrix::test::soundFixture;

namespace {

[[maybe_unused]] auto* const backend = ::testing::AddGlobalTestEnvironment(new tavrix::test::openALBackend("null"));

// The OpenAL entry points the sound modules use, wrapped: each call made while `watching` is set and
// not on the "Sound Worker" is recorded by name.
std::atomic<bool> watching{false};
std::mutex strayLock;
std::vector<std::string> strayCalls;

void checkThread(const char* function)
{
    if (!watching.load())
        return;
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    if (std::string(name) != "Sound Worker") {
        std::lock_guard<std::mutex> guard(strayLock);
        strayCalls.push_back(std::string(function) + " on " + name);
    }
}

template <class F>
F real(const char* function)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, function));
}

} // namespace

#define WRAP(result, function, params, args)                                                                           \
    extern "C" result function params                                                                                  \
    {                                                                                                                  \
        checkThread(#function);                                                                                        \
        static const auto next = real<result(*) params>(#function);                                                   \
        return next args;                                                                                              \
    }
WRAP(ALCdevice*, alcOpenDevice, (const ALCchar * name), (name))
WRAP(ALCboolean, alcCloseDevice, (ALCdevice * device), (device))
WRAP(ALCcontext*, alcCreateContext, (ALCdevice * device, const ALCint* attributes), (device, attributes))
WRAP(ALCboolean, alcMakeContextCurrent, (ALCcontext * context), (context))
WRAP(void, alcDestroyContext, (ALCcontext * context), (context))
WRAP(void, alGenSources, (ALsizei n, ALuint* sources), (n, sources))
WRAP(void, alDeleteSources, (ALsizei n, const ALuint* sources), (n, sources))
WRAP(void, alGenBuffers, (ALsizei n, ALuint* buffers), (n, buffers))
WRAP(void, alDeleteBuffers, (ALsizei n, const ALuint* buffers), (n, buffers))
WRAP(void, alBufferData, (ALuint buffer, ALenum format, const ALvoid* data, ALsizei size, ALsizei rate), (buffer, format, data, size, rate))
WRAP(void, alSourcePlay, (ALuint source), (source))
WRAP(void, alSourceStop, (ALuint source), (source))
WRAP(void, alSourceQueueBuffers, (ALuint source, ALsizei n, const ALuint* buffers), (source, n, buffers))
WRAP(void, alSourceUnqueueBuffers, (ALuint source, ALsizei n, ALuint* buffers), (source, n, buffers))
WRAP(void, alSourcef, (ALuint source, ALenum param, ALfloat value), (source, param, value))
WRAP(void, alGetSourcei, (ALuint source, ALenum param, ALint* value), (source, param, value))
WRAP(ALenum, alGetError, (), ())
#undef WRAP

// libvorbisenc does not free one block of its 5.1 setup, which the six-channel file here uses.
extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_encode_setup_init\n"; }

namespace {

class bgmStreamTest : public soundFixture {
protected:
    void TearDown() override
    {
        watching = false;
        soundFixture::TearDown();
    }
};

TEST_F(bgmStreamTest, FilesThatCannotPlayLeaveNoFileSet)
{
    struct fileCase {
        const char* name;
        std::string bytes; // empty: no such file
        const char* error;
    };
    const std::vector<fileCase> cases = {
        {"missing.ogg", "", "bgmStream::_setFile(data/bgm/missing.ogg) -> can't open file\n"},
        {"text.ogg", "this is not an OGG file at all, only text",
         "bgmStream::_setFile(data/bgm/text.ogg) -> libvobrisfile returned an error (OGG File Corrupted?).\n"},
        {"surround.ogg", encodeOgg(6, 44100, 4410), "bgmStream::_setFile(data/bgm/surround.ogg) -> given file has more than 2 channels.\n"},
    };
    startSound();
    for (const fileCase& c : cases) {
        if (!c.bytes.empty())
            addMusic(c.name, c.bytes);
        bgmStream stream;
        captured.clear();
        stream.setFile(c.name);
        stream.play(false);
        drainWorker();
        std::vector<std::string> errors = captured.texts(tavrix::util::LOG_ERROR);
        // The content store has its own line for a file it does not have.
        std::erase(errors, "vfs: readFile(data/bgm/missing.ogg) - file does not exist\n");
        EXPECT_EQ(errors, (std::vector<std::string>{c.error, "bgmStream::_play() -> no data loaded/set\n"})) << c.name;
    }
    // Every file read was given back (the fixture's leak check).
}

TEST_F(bgmStreamTest, NamesWhosePathDoesNotFitAreRefused)
{
    startSound();
    bgmStream stream;
    captured.clear();
    const std::string longest(118, 'a');
    stream.setFile((longest + "b").c_str());
    stream.setFile(longest.c_str());
    drainWorker();
    std::vector<std::string> errors = captured.texts(tavrix::util::LOG_ERROR);
    std::erase_if(errors, [](const std::string& line) { return line.rfind("vfs: ", 0) == 0; });
    EXPECT_EQ(errors, (std::vector<std::string>{"bgmStream::setFile(" + longest + "b) -> name too long, not loaded\n",
                                                "bgmStream::_setFile(data/bgm/" + longest + ") -> can't open file\n"}));
}

TEST_F(bgmStreamTest, LoopingFileWithoutSamplesDoesNotRewindForever)
{
    addMusic("empty.ogg", encodeOgg(1, 44100, 0));
    startSound();
    bgmStream stream;
    captured.clear();
    stream.setFile("empty.ogg");
    stream.play(true);
    stream.queueUnloadTask();
    // Returns only once the worker got past the play.
    drainWorker();
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty()) << ::testing::PrintToString(captured.texts());
}

TEST_F(bgmStreamTest, DecoderSeesTheFileInMemory)
{
    const std::string file = encodeOgg(1, 44100, 4410);
    const int64_t size = int64_t(file.size());
    addMusic("short.ogg", file);
    startSound();
    bgmStream stream;
    // No file set: nothing to close.
    EXPECT_EQ(bgmStream::ogg_close(&stream), -1);
    stream.setFile("short.ogg");
    drainWorker();

    struct seekCase {
        int64_t start; // a position set first
        int64_t offset;
        int whence;
        int result;
        int64_t position;
    };
    const seekCase seeks[] = {
        {7, 0, SEEK_SET, 0, 0},
        {7, size, SEEK_SET, 0, size},
        {7, size + 1, SEEK_SET, -1, 7},
        {7, -1, SEEK_SET, -1, 7},
        {7, 5, SEEK_CUR, 0, 12},
        {7, -8, SEEK_CUR, -1, 7},
        {7, INT64_MAX, SEEK_CUR, -1, 7},
        {7, 0, SEEK_END, 0, size},
        {7, 1, SEEK_END, -1, 7},
        {7, -size, SEEK_END, 0, 0},
        {7, 0, 3, -1, 7},
    };
    for (const seekCase& c : seeks) {
        ASSERT_EQ(bgmStream::ogg_seek(&stream, c.start, SEEK_SET), 0);
        EXPECT_EQ(bgmStream::ogg_seek(&stream, c.offset, c.whence), c.result) << c.offset << " " << c.whence;
        EXPECT_EQ(bgmStream::ogg_tell(&stream), c.position) << c.offset << " " << c.whence;
    }
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR), std::vector<std::string>{"bgmStream::ogg_seek() -> invalid whence: 3\n"});

    // Reads stop at the end of the file; the count is in bytes.
    char bytes[64];
    ASSERT_EQ(bgmStream::ogg_seek(&stream, -10, SEEK_END), 0);
    EXPECT_EQ(bgmStream::ogg_read(bytes, 4, 16, &stream), 10u);
    EXPECT_EQ(std::string(bytes, 10), file.substr(file.size() - 10));
    EXPECT_EQ(bgmStream::ogg_read(bytes, 1, sizeof(bytes), &stream), 0u);
    ASSERT_EQ(bgmStream::ogg_seek(&stream, 3, SEEK_SET), 0);
    EXPECT_EQ(bgmStream::ogg_read(bytes, 4, 3, &stream), 12u);
    EXPECT_EQ(std::string(bytes, 12), file.substr(3, 12));
    EXPECT_EQ(bgmStream::ogg_tell(&stream), 15);
}

TEST_F(bgmStreamTest, EveryOpenALCallRunsOnTheWorker)
{
    addMusic("tune.ogg", encodeOgg(2, 44100, 22050));
    startSound();
    watching = true;
    // The wrappers do see the calls (one made here, off the worker).
    alGetError();
    ASSERT_EQ(strayCalls.size(), 1u);
    EXPECT_EQ(strayCalls[0].rfind("alGetError on ", 0), 0u) << strayCalls[0];
    strayCalls.clear();
    {
        // Made at once after the start, before the worker switched to the device.
        bgmStream stream;
        stream.setVolume(80);
        stream.setFile("tune.ogg");
        stream.play(true);
        // Long enough for the refill timer to queue updates.
        std::this_thread::sleep_for(700ms);
        stream.queueUnloadTask();
        stream.play(false);
    }
    stopSound();
    watching = false;
    EXPECT_TRUE(strayCalls.empty()) << ::testing::PrintToString(strayCalls);
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty()) << ::testing::PrintToString(captured.texts());
}

TEST_F(bgmStreamTest, DestroyedStreamIsOutOfTheTimersReach)
{
    addMusic("loop.ogg", encodeOgg(1, 44100, 4410));
    startSound();
    for (int round = 0; round < 30; ++round) {
        auto* stream = new bgmStream;
        stream->setFile("loop.ogg");
        stream->play(true);
        // As a refill timer's callback does, before, while and after the stream is destroyed: one that
        // was already under way when its timer was deleted still holds the pointer.
        std::atomic<bool> done{false};
        std::thread timerCallback([&] {
            while (!done.load())
                bgmStream::onUpdateTimer(0, stream, nullptr);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
        delete stream;
        // Out of the tracking allocator's quarantine, back to the heap: a late touch of the stream, or a
        // task that still names it, is then caught by the address sanitizer.
        rofree(roalloc(2u << 20));
        std::this_thread::sleep_for(1ms);
        done = true;
        timerCallback.join();
        drainWorker();
    }
    EXPECT_TRUE(captured.texts(tavrix::util::LOG_ERROR).empty()) << ::testing::PrintToString(captured.texts());
}

// A stream still playing when the worker stops: its next refill is refused with one warning, and the
// process goes on.
TEST_F(bgmStreamTest, StreamPlayingAtShutdownOnlyWarns)
{
    addMusic("loop.ogg", encodeOgg(1, 44100, 44100));
    startSound();
    auto* stream = new bgmStream;
    stream->setFile("loop.ogg");
    stream->play(true);
    // Stopped between two refills (they come every 500 ms from the play on), so that none is queued.
    std::this_thread::sleep_for(700ms);
    drainWorker();
    stopSound();
    const std::string dropped = "sound::newTask() -> the sound worker is not running, request dropped\n";
    ASSERT_TRUE(eventually([&] { return count(dropped) != 0; }));
    // Past two more periods of the refill timer: no second warning.
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(captured.texts(tavrix::util::LOG_ERROR | tavrix::util::LOG_WARN), std::vector<std::string>{dropped});
    captured.clear();
    stream->play(false);
    EXPECT_EQ(captured.texts(), std::vector<std::string>{"sound::newTask() -> the sound worker is not running, request dropped\n"});
    delete stream;
}

} // namespace
