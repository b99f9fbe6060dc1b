#pragma once
// Shared by the image decoders' tests: a fixture with the tracking allocator and a captured log, byte
// writers for hand-made files, one decode with every output kept, and the texture size limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "client/texturedecoder.h"
#include "platformlib/allocator/roalloc.h"
#include "support/modulerun.h"

namespace tavrix::test {

using byteString = std::vector<uint8_t>;

inline void putLe16(byteString& at, size_t offset, uint16_t value)
{
    at[offset] = uint8_t(value);
    at[offset + 1] = uint8_t(value >> 8);
}

inline void putLe32(byteString& at, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[offset + i] = uint8_t(value >> (8 * i));
}

inline void append(byteString& to, const byteString& more) { to.insert(to.end(), more.begin(), more.end()); }

// Pixels written as 0xRRGGBBAA, one value each, as the decoders' RGBA bytes.
inline byteString rgba(std::initializer_list<uint32_t> pixels)
{
    byteString out;
    for (uint32_t p : pixels)
        out.insert(out.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    return out;
}

struct decodeResult {
    bool ok;
    uint32_t width;
    uint32_t height;
    uint32_t glFormat;
    uint32_t bytes;
    byteString pixels;
};

// The outputs start out as garbage, so that a decoder that leaves one unset is seen.
inline decodeResult decode(textureDecoder load, const byteString& file)
{
    decodeResult result{false, 0xBAD, 0xBAD, 0xBAD, 0xBAD, {}};
    void* pixels = load(file.data(), uint32_t(file.size()), &result.width, &result.height, &result.glFormat,
                        &result.bytes);
    result.ok = pixels != nullptr;
    if (pixels) {
        const uint8_t* begin = static_cast<const uint8_t*>(pixels);
        result.pixels.assign(begin, begin + result.bytes);
        rofree(pixels);
    }
    return result;
}

// The largest address space the process has held, in kB.
inline uint64_t peakVirtualKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmPeak:", 0) == 0)
            return std::stoull(line.substr(7));
    ADD_FAILURE() << "no VmPeak";
    return 0;
}

// A decode of a file that must be refused without first reserving memory for what it claims.
inline decodeResult decodeRefused(textureDecoder load, const byteString& file)
{
    const uint64_t before = peakVirtualKb();
    decodeResult result = decode(load, file);
    EXPECT_LT(peakVirtualKb() - before, 256u * 1024) << "kB of address space taken";
    return result;
}

// A failed decode: null, no size, and exactly the given lines in the log.
inline void expectFailure(const decodeResult& result, const captureLogger& captured, uint32_t level,
                          const std::vector<std::string>& lines)
{
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.width, 0u);
    EXPECT_EQ(result.height, 0u);
    EXPECT_EQ(captured.texts(), lines);
    for (const capturedLine& line : captured.lines())
        EXPECT_EQ(line.level, level) << line.text;
}

// The texture size limit as a client that read `side` at start-up sets it, for the object's lifetime.
class textureSizeLimit {
public:
    explicit textureSizeLimit(uint32_t side) : previous(decoderMaxTextureSize.exchange(side)) {}
    ~textureSizeLimit() { decoderMaxTextureSize = previous; }
    textureSizeLimit(const textureSizeLimit&) = delete;
    textureSizeLimit& operator=(const textureSizeLimit&) = delete;

private:
    uint32_t previous;
};

// Images as wide or as tall as the texture size limit decode; one column or row more fails with exactly
// `lines`. Checked at the limit without a client and at a smaller one that a client read. `file` makes a
// valid image of the given width and height.
inline void expectTextureSizeLimit(textureDecoder load, const std::function<byteString(uint32_t, uint32_t)>& file,
                                   captureLogger& captured, uint32_t level, const std::vector<std::string>& lines)
{
    auto atLimit = [&](uint32_t side) {
        SCOPED_TRACE(side);
        using size = std::pair<uint32_t, uint32_t>;
        for (const auto& [width, height] : {size{side, 1}, size{1, side}}) {
            const decodeResult fits = decode(load, file(width, height));
            EXPECT_TRUE(fits.ok) << width << " x " << height;
            EXPECT_EQ(fits.width, width);
            EXPECT_EQ(fits.height, height);
        }
        for (const auto& [width, height] : {size{side + 1, 1}, size{1, side + 1}}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
            captured.clear();
            expectFailure(decodeRefused(load, file(width, height)), captured, level, lines);
        }
    };
    EXPECT_EQ(decoderMaxTextureSize.load(), 16384u);
    atLimit(16384);
    const textureSizeLimit read(8);
    atLimit(8);
}

class imageTest : public moduleTest {
protected:
    void SetUp() override
    {
        start({ALLOCATOR});
        captured.clear();
    }
};

} // namespace tavrix::test
