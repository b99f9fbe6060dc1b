#pragma once
// The sound worker running for real against one of OpenAL Soft's back-ends, with the content store, the
// settings and the timers under it, every log line captured, and OGG Vorbis files made on the spot.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "client/soundlocal.h"
#include "client/timer.h"
#include "content/contentmodules.h"
#include "support/eventually.h"

namespace tavrix::test {

inline const testModule SOUND = {"sound", sound::init, sound::final};

// OpenAL Soft reads its back-end and its settings once, at the first call into it: a test program picks
// them before its first test. The wave back-end writes what it mixes to `wavePath`, as 16-bit samples at
// 44100 Hz in the channels given (interleaved), without dither or limiter, so that a source played at full
// gain arrives byte for byte. A wave file in a folder that does not exist makes the device fail to open.
class openALBackend : public ::testing::Environment {
public:
    explicit openALBackend(const char* drivers_, const char* channels_ = "mono", const char* waveFile_ = "out.wav")
        : drivers(drivers_), channels(channels_), waveFile(waveFile_)
    {
    }

    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-openal-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        wavePath = folder + "/" + waveFile;
        const std::string conf = folder + "/alsoft.conf";
        std::ofstream(conf) << "[general]\nchannels = " << channels
                            << "\nsample-type = int16\nfrequency = 44100\n"
                               "resampler = point\ndither = false\noutput-limiter = false\nhrtf = false\n"
                               "[wave]\nfile = "
                            << wavePath << "\n";
        setenv("ALSOFT_DRIVERS", drivers, 1);
        setenv("ALSOFT_CONF", conf.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    static inline std::string wavePath;

private:
    const char* drivers;
    const char* channels;
    const char* waveFile;
    std::string folder;
};

// A sound of `frames` frames, each channel a sine of its own pitch, as an OGG Vorbis file.
inline std::string encodeOgg(int channels, long rate, uint32_t frames, float amplitude = 0.3f)
{
    vorbis_info vi;
    vorbis_info_init(&vi);
    EXPECT_EQ(vorbis_encode_init_vbr(&vi, channels, rate, 0.5f), 0);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 1234);

    std::string out;
    ogg_page page;
    auto writePage = [&] {
        out.append(reinterpret_cast<const char*>(page.header), size_t(page.header_len));
        out.append(reinterpret_cast<const char*>(page.body), size_t(page.body_len));
    };
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    while (ogg_stream_flush(&os, &page))
        writePage();

    auto drain = [&] {
        ogg_packet packet;
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                while (ogg_stream_pageout(&os, &page))
                    writePage();
            }
        }
    };
    constexpr uint32_t CHUNK = 1024;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(CHUNK, frames - done);
        float** buffer = vorbis_analysis_buffer(&vd, int(n));
        for (int c = 0; c < channels; ++c)
            for (uint32_t i = 0; i < n; ++i)
                buffer[c][i] = amplitude * std::sin(2.0 * M_PI * (440.0 + 110.0 * c) * (done + i) / rate);
        vorbis_analysis_wrote(&vd, int(n));
        drain();
        done += n;
    }
    vorbis_analysis_wrote(&vd, 0);
    drain();
    while (ogg_stream_flush(&os, &page))
        writePage();

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

// What libvorbisfile decodes from the file: interleaved signed 16-bit samples.
inline std::vector<int16_t> decodeOgg(const std::string& file)
{
    const std::string path = std::filesystem::temp_directory_path() / ("tavrix-decode-" + std::to_string(getpid()) + ".ogg");
    std::ofstream(path, std::ios::binary) << file;
    OggVorbis_File vf;
    std::vector<int16_t> pcm;
    if (ov_fopen(path.c_str(), &vf) == 0) {
        char block[4096];
        int link = 0;
        long got;
        while ((got = ov_read(&vf, block, sizeof(block), 0, 2, 1, &link)) > 0) {
            const size_t at = pcm.size();
            pcm.resize(at + size_t(got) / 2);
            std::memcpy(pcm.data() + at, block, size_t(got));
        }
        ov_clear(&vf);
    }
    std::remove(path.c_str());
    return pcm;
}

// The samples of the wave back-end's output file ("data" chunk of a RIFF file).
inline std::vector<int16_t> readWave(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string file = bytes.str();
    std::vector<int16_t> samples;
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t length;
        std::memcpy(&length, file.data() + at + 4, 4);
        if (file.compare(at, 4, "data") == 0) {
            const size_t available = std::min<size_t>(length, file.size() - at - 8);
            samples.resize(available / 2);
            std::memcpy(samples.data(), file.data() + at + 8, samples.size() * 2);
            break;
        }
        at += 8 + length + (length & 1);
    }
    return samples;
}

// Index of the first sample whose magnitude passes the threshold, from `from` on; npos when none does.
inline size_t firstLoud(const std::vector<int16_t>& samples, size_t from = 0, int threshold = 200)
{
    for (size_t i = from; i < samples.size(); ++i)
        if (std::abs(samples[i]) > threshold)
            return i;
    return std::string::npos;
}

class soundFixture : public moduleTest {
protected:
    void SetUp() override { start({ALLOCATOR, CVARS, TIMERS, CONTENT_STORE}); }

    void startSound() { start({SOUND}); }
    void stopSound() { stop(SOUND.name); }

    // Returns once every task queued before it ran.
    static void drainWorker()
    {
        sound::callOnWorker([](void*) {}, nullptr);
    }
    // Runs fn on the worker.
    static void onWorker(const std::function<void()>& fn)
    {
        sound::callOnWorker([](void* arg) { (*static_cast<const std::function<void()>*>(arg))(); },
                            const_cast<std::function<void()>*>(&fn));
    }

    static int32_t timersInUse()
    {
        int32_t total = 0, free = 0, peak = 0;
        timer_getStats(&total, &free, &peak);
        return total - free;
    }
    // Until a stream's play of a file without loop has reached its end, however late the output mixes it:
    // the stream stops itself then, and its refill timer goes.
    static void waitForItsEnd(int32_t timersBefore)
    {
        drainWorker();
        EXPECT_TRUE(eventually([&] { return timersInUse() == timersBefore; })) << "the refill timer still runs";
    }

    // A file of the content store under data/bgm/.
    void addMusic(const std::string& name, const std::string& bytes) { dir.write("dev/data/bgm/" + name, bytes); }

    std::string cvarString(const char* name)
    {
        char value[256];
        uint32_t length = sizeof(value);
        cvar::getStr(name, value, &length);
        return std::string(value, length);
    }

    size_t count(const std::string& text) const
    {
        size_t n = 0;
        for (const std::string& line : captured.texts())
            n += line == text;
        return n;
    }
};

} // namespace tavrix::test
