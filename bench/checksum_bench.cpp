// crc32_update against zlib's crc32, SHA-256 against OpenSSL's, on 4 KB and 1 MB buffers.
// Each pair reports bytes per second; the "ratio" counter on our side is our speed over theirs.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "platformlib/util/crc32.h"
#include "platformlib/util/sha256.h"
#include "support/bytegenerator.h"

namespace {

std::vector<uint8_t> buffer(size_t n) { return tavrix::test::byteGenerator(2463534242u).bytes(n); }

void ourCrc(const std::vector<uint8_t>& data)
{
    benchmark::DoNotOptimize(crc32_update(0, data.data(), uint32_t(data.size())));
}

void zlibCrc(const std::vector<uint8_t>& data)
{
    benchmark::DoNotOptimize(crc32(0, data.data(), uInt(data.size())));
}

void ourSha(const std::vector<uint8_t>& data)
{
    sha256Context ctx;
    uint8_t digest[32];
    sha256_starts(&ctx);
    sha256_update(&ctx, data.data(), uint32_t(data.size()));
    sha256_finish(&ctx, digest);
    benchmark::DoNotOptimize(digest);
}

void opensslSha(const std::vector<uint8_t>& data)
{
    uint8_t digest[32];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    benchmark::DoNotOptimize(digest);
}

// Seconds per byte of a function, measured once, for the ratio counter.
double secondsPerByte(void (*hash)(const std::vector<uint8_t>&), const std::vector<uint8_t>& data)
{
    const int rounds = int(64 * 1024 * 1024 / data.size()) + 1;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        hash(data);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / (double(rounds) * double(data.size()));
}

void run(benchmark::State& state, void (*hash)(const std::vector<uint8_t>&), void (*rival)(const std::vector<uint8_t>&))
{
    const auto data = buffer(size_t(state.range(0)));
    for (auto _ : state)
        hash(data);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
    if (rival)
        state.counters["ratio"] = secondsPerByte(rival, data) / secondsPerByte(hash, data);
}

void BM_crc32_update(benchmark::State& state) { run(state, ourCrc, zlibCrc); }
void BM_zlib_crc32(benchmark::State& state) { run(state, zlibCrc, nullptr); }
void BM_sha256(benchmark::State& state) { run(state, ourSha, opensslSha); }
void BM_openssl_sha256(benchmark::State& state) { run(state, opensslSha, nullptr); }

BENCHMARK(BM_crc32_update)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_zlib_crc32)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_sha256)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_openssl_sha256)->Arg(4096)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
