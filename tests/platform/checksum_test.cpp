#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platformlib/cpuinfo.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"
#include "support/bytegenerator.h"

namespace {

std::vector<uint8_t> pseudoRandomBytes(size_t n) { return tavrix::test::byteGenerator(0x9E3779B9u).bytes(n); }

bool always() { return true; }

template <typename Path>
std::string pathName(const testing::TestParamInfo<Path>& info)
{
    return info.param.name;
}

// A test of one path, skipped where the processor cannot run it.
template <typename Path>
class pathTest : public testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        if (!this->GetParam().available())
            GTEST_SKIP() << "the processor lacks the instructions of the " << this->GetParam().name << " path";
    }
};

// crc32_update itself and each way it may compute, on the same cases.
struct crcPath {
    const char* name;
    uint32_t (*update)(uint32_t crc, const void* data, uint32_t len);
    bool (*available)();
};

void PrintTo(const crcPath& path, std::ostream* out) { *out << path.name; }

const crcPath crcPaths[] = {
    {"chosen", crc32_update, always},
    {"table", crc32_updateTable, always},
    {"folded", crc32_updateFolded, tavrix::cpuinfo_hasCarrylessMultiply},
};

class Crc32 : public pathTest<crcPath> {
protected:
    uint32_t crc(uint32_t start, const void* data, size_t len) const
    {
        return GetParam().update(start, data, uint32_t(len));
    }
};

uint32_t zlibCrc(uint32_t start, const uint8_t* data, size_t len) { return uint32_t(crc32(start, data, uInt(len))); }

TEST_P(Crc32, CheckValueInOneCallAndContinued)
{
    EXPECT_EQ(crc(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc(crc(0, "1234", 4), "56789", 5), 0xCBF43926u);
}

TEST_P(Crc32, EmptyInputReturnsCrcUnchanged)
{
    EXPECT_EQ(crc(0, "x", 0), 0u);
    EXPECT_EQ(crc(0x12345678u, nullptr, 0), 0x12345678u);
}

// Every length and start alignment around the 16-byte lanes and the 64-byte folding steps, and a long
// buffer, against zlib.
TEST_P(Crc32, MatchesZlibForEveryLengthAndAlignment)
{
    const std::vector<uint8_t> data = pseudoRandomBytes(1 << 20);
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t len = 0; len <= 300; ++len)
            ASSERT_EQ(crc(0, data.data() + offset, len), zlibCrc(0, data.data() + offset, len))
                << "offset " << offset << " length " << len;
    EXPECT_EQ(crc(0, data.data() + 3, data.size() - 3), zlibCrc(0, data.data() + 3, data.size() - 3));
}

TEST_P(Crc32, ContinuationAtEverySplitMatchesZlib)
{
    const std::vector<uint8_t> data = pseudoRandomBytes(333);
    const uint32_t start = zlibCrc(0, data.data(), 7);
    const uint32_t whole = zlibCrc(start, data.data(), data.size());
    for (size_t split = 0; split <= data.size(); ++split) {
        const uint32_t first = crc(start, data.data(), split);
        ASSERT_EQ(first, zlibCrc(start, data.data(), split)) << split;
        ASSERT_EQ(crc(first, data.data() + split, data.size() - split), whole) << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Crc32, testing::ValuesIn(crcPaths), pathName<crcPath>);

std::string hexOf(const uint8_t* bytes, uint32_t n)
{
    std::string s(2 * n, '?');
    tavrix::util::bytesToHex(bytes, s.data(), n);
    return s;
}

struct shaVector {
    std::string message;
    const char* digest;
};

const std::vector<shaVector>& shaVectors()
{
    static const std::vector<shaVector> v = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        // Remainders of 55 (padding fits one block), 56 and 63 (two blocks), 64 and 65.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
    };
    return v;
}

const char* const millionA = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

// Each compression on the same cases, through the update and finish steps.
struct shaPath {
    const char* name;
    sha256Compressor compress;
    bool (*available)();
};

void PrintTo(const shaPath& path, std::ostream* out) { *out << path.name; }

const shaPath shaPaths[] = {
    {"portable", sha256_compressPortable, always},
    {"shaExtensions", sha256_compressShaExtensions, tavrix::cpuinfo_hasShaExtensions},
};

class Sha256 : public pathTest<shaPath> {
protected:
    // The digest of `len` bytes fed in the given pieces, then the rest in one.
    std::string hex(const void* message, size_t len, const std::vector<size_t>& pieces) const
    {
        const uint8_t* bytes = static_cast<const uint8_t*>(message);
        sha256Context ctx;
        sha256_starts(&ctx);
        size_t at = 0;
        for (size_t piece : pieces) {
            sha256_updateWith(&ctx, bytes + at, uint32_t(piece), GetParam().compress);
            at += piece;
        }
        sha256_updateWith(&ctx, bytes + at, uint32_t(len - at), GetParam().compress);
        uint8_t digest[32];
        sha256_finishWith(&ctx, digest, GetParam().compress);
        return hexOf(digest, 32);
    }

    std::string hex(const std::string& message, const std::vector<size_t>& pieces) const
    {
        return hex(message.data(), message.size(), pieces);
    }
};

std::string opensslHex(const uint8_t* data, size_t len)
{
    uint8_t digest[32];
    unsigned int digestLength = 0;
    EVP_Digest(data, len, digest, &digestLength, EVP_sha256(), nullptr);
    return hexOf(digest, digestLength);
}

TEST_P(Sha256, VectorsInOneCall)
{
    for (const auto& v : shaVectors())
        EXPECT_EQ(hex(v.message, {}), v.digest) << v.message.size() << " bytes";
}

TEST_P(Sha256, VectorsSplitAtEveryPointInTwoAndThreePieces)
{
    for (const auto& v : shaVectors()) {
        const size_t n = v.message.size();
        for (size_t i = 0; i <= n; ++i) {
            ASSERT_EQ(hex(v.message, {i}), v.digest) << n << " bytes split at " << i;
            for (size_t j = i; j <= n; j += 7)
                ASSERT_EQ(hex(v.message, {i, j - i}), v.digest) << n << " bytes split at " << i << ", " << j;
        }
    }
}

TEST_P(Sha256, MillionAInPiecesAroundTheBlockSize)
{
    const std::string message(1000000, 'a');
    for (size_t piece : {size_t(1), size_t(55), size_t(56), size_t(63), size_t(64), size_t(65), size_t(127),
                         size_t(128), size_t(129), size_t(8192), message.size()}) {
        std::vector<size_t> pieces(message.size() / piece, piece);
        EXPECT_EQ(hex(message, pieces), millionA) << "pieces of " << piece;
    }
}

// Lengths around one to four blocks at every start alignment, then split at every point, against OpenSSL.
TEST_P(Sha256, MatchesOpenSslForEveryLengthAlignmentAndSplit)
{
    const std::vector<uint8_t> data = pseudoRandomBytes(4096 + 16);
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t len = 0; len <= 260; ++len)
            ASSERT_EQ(hex(data.data() + offset, len, {}), opensslHex(data.data() + offset, len))
                << "offset " << offset << " length " << len;
    for (size_t len : {size_t(191), size_t(192), size_t(193), size_t(4096)}) {
        const std::string expected = opensslHex(data.data() + 5, len);
        for (size_t split = 0; split <= len; ++split)
            ASSERT_EQ(hex(data.data() + 5, len, {split}), expected) << len << " bytes split at " << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha256, testing::ValuesIn(shaPaths), pathName<shaPath>);

// The plain functions give the same digests through the compression chosen for this processor.
TEST(Sha256Chosen, VectorsThroughUpdateAndFinish)
{
    std::vector<shaVector> vectors = shaVectors();
    vectors.push_back({std::string(1000000, 'a'), millionA});
    for (const auto& v : vectors) {
        sha256Context ctx;
        sha256_starts(&ctx);
        const size_t half = v.message.size() / 2;
        sha256_update(&ctx, v.message.data(), uint32_t(half));
        sha256_update(&ctx, v.message.data() + half, uint32_t(v.message.size() - half));
        uint8_t digest[32];
        sha256_finish(&ctx, digest);
        EXPECT_EQ(hexOf(digest, 32), v.digest) << v.message.size() << " bytes";
    }
}

TEST(Sha256Chosen, ProcessCompressesOneBlock)
{
    // "abc" padded by hand: the state after its single block is the digest.
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    sha256Context ctx;
    sha256_starts(&ctx);
    sha256_process(&ctx, block);
    uint8_t digest[32];
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = uint8_t(ctx.state[i] >> (24 - 8 * k));
    EXPECT_EQ(hexOf(digest, 32), shaVectors()[1].digest);
}

// The processor features that choose the checksum paths agree with the kernel's view of the same processor.
TEST(ChecksumPaths, ProcessorFeaturesAgreeWithTheKernelsFlags)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    ASSERT_FALSE(line.empty()) << "no flags line in /proc/cpuinfo";
    std::istringstream words(line.substr(line.find(':') + 1));
    const std::set<std::string> flags{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    EXPECT_EQ(tavrix::cpuinfo_hasCarrylessMultiply(), flags.count("pclmulqdq") == 1);
    EXPECT_EQ(tavrix::cpuinfo_hasShaExtensions(),
              flags.count("sha_ni") == 1 && flags.count("ssse3") == 1 && flags.count("sse4_1") == 1);
}

TEST(Hex, BytesToHexWritesLowerCasePairsAndNoTerminator)
{
    const uint8_t bytes[] = {0x00, 0x9F, 0xFF};
    char out[8];
    std::memset(out, '#', sizeof(out));
    tavrix::util::bytesToHex(bytes, out, 3);
    EXPECT_EQ(std::string(out, 8), "009fff##");
}

TEST(Hex, NothingWrittenForNullOrEmptyInput)
{
    const uint8_t bytes[] = {0x12};
    char text[4] = {'#', '#', '#', '#'};
    tavrix::util::bytesToHex(bytes, text, 0);
    tavrix::util::bytesToHex(nullptr, text, 1);
    tavrix::util::bytesToHex(bytes, nullptr, 1);
    EXPECT_EQ(std::string(text, 4), "####");

    uint8_t out[3] = {0xEE, 0xEE, 0xEE};
    tavrix::util::hexToBytes("abcd", out, 0);
    tavrix::util::hexToBytes("abc", out, 3);
    tavrix::util::hexToBytes(nullptr, out, 2);
    tavrix::util::hexToBytes("ab", nullptr, 2);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(out[1], 0xEE);
    EXPECT_EQ(out[2], 0xEE);
}

TEST(Hex, HexToBytesDecodesEitherCaseAndTreatsOtherCharactersAsZero)
{
    struct {
        const char* text;
        uint8_t value;
    } cases[] = {{"9f", 0x9F}, {"9F", 0x9F}, {"aB", 0xAB}, {"zz", 0x00}, {"g7", 0x07}, {"7g", 0x70}, {"ff", 0xFF}};
    for (const auto& c : cases) {
        uint8_t out[2] = {0xEE, 0xEE};
        tavrix::util::hexToBytes(c.text, out, 2);
        EXPECT_EQ(out[0], c.value) << c.text;
        EXPECT_EQ(out[1], 0xEE) << c.text;
    }
}

TEST(Hex, RoundTripOfEveryByteValue)
{
    std::vector<uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = uint8_t(i);
    const std::string text = hexOf(bytes.data(), 256);
    EXPECT_EQ(text.substr(0, 8), "00010203");
    EXPECT_EQ(text.substr(504), "fcfdfeff");
    std::vector<uint8_t> back(256);
    tavrix::util::hexToBytes(text.data(), back.data(), uint32_t(text.size()));
    EXPECT_EQ(back, bytes);
}

} // namespace
