#pragma once
// Pseudo-random bytes that every run repeats, for the data of tests and benchmarks: a 32-bit xorshift
// generator started from a seed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrix::test {

class byteGenerator {
public:
    // A seed of 0 would give nothing but zeros: it counts as 1.
    explicit byteGenerator(uint32_t seed) : state(seed ? seed : 1) {}

    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Each byte is the low byte of the next value.
    std::vector<uint8_t> bytes(size_t count)
    {
        std::vector<uint8_t> out(count);
        for (uint8_t& b : out)
            b = uint8_t(next());
        return out;
    }
    std::string text(size_t count)
    {
        std::string out(count, '\0');
        for (char& c : out)
            c = char(next());
        return out;
    }

private:
    uint32_t state;
};

} // namespace tavrix::test
