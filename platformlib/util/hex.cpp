#include "platformlib/util/hex.h"

#include <array>

namespace tavrix::util {

namespace {

constexpr char digits[] = "0123456789abcdef";

constexpr std::array<char, 512> makePairs()
{
    std::array<char, 512> t{};
    for (int b = 0; b < 256; ++b) {
        t[2 * b] = digits[b >> 4];
        t[2 * b + 1] = digits[b & 15];
    }
    return t;
}

constexpr std::array<uint8_t, 256> makeValues()
{
    std::array<uint8_t, 256> v{};
    for (int i = 0; i < 10; ++i)
        v['0' + i] = uint8_t(i);
    for (int i = 0; i < 6; ++i) {
        v['a' + i] = uint8_t(10 + i);
        v['A' + i] = uint8_t(10 + i);
    }
    return v;
}

constexpr auto pairs = makePairs();
constexpr auto values = makeValues();

} // namespace

void bytesToHex(const uint8_t* bytes, char* out, uint32_t n)
{
    if (!bytes || !out || n == 0)
        return;
    for (uint32_t i = 0; i < n; ++i) {
        out[2 * i] = pairs[2 * bytes[i]];
        out[2 * i + 1] = pairs[2 * bytes[i] + 1];
    }
}

void hexToBytes(const char* hex, uint8_t* out, uint32_t hexLen)
{
    if (!hex || !out || hexLen == 0 || (hexLen & 1))
        return;
    for (uint32_t i = 0; i < hexLen / 2; ++i) {
        const uint8_t high = values[static_cast<unsigned char>(hex[2 * i])];
        const uint8_t low = values[static_cast<unsigned char>(hex[2 * i + 1])];
        out[i] = uint8_t(high * 16 + low);
    }
}

} // namespace tavrix::util
