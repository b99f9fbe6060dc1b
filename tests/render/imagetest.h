#pragma once
// Shared by the image decoders' tests: a fixture with the tracking allocator and a captured log, byte
// writers for hand-made files, and one decode with every output kept.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
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

class imageTest : public moduleTest {
protected:
    void SetUp() override
    {
        start({ALLOCATOR});
        captured.clear();
    }
};

} // namespace tavrix::test
