// crc32_update against zlib's crc32, SHA-256 against OpenSSL's, on 4 KB and 1 MB buffers, each beside the
// portable path it replaces where the processor allows. Closes with the speed ratios against zlib and OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/ratioreporter.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/sha256.h"
#include "support/bytegenerator.h"

namespace {

std::vector<uint8_t> buffer(size_t n) { return tavrix::test::byteGenerator(2463534242u).bytes(n); }

void ourCrc(const std::vector<uint8_t>& data)
{
    benchmark::DoNotOptimize(crc32_update(0, data.data(), uint32_t(data.size())));
}

void tableCrc(const std::vector<uint8_t>& data)
{
    benchmark::DoNotOptimize(crc32_updateTable(0, data.data(), uint32_t(data.size())));
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

void portableSha(const std::vector<uint8_t>& data)
{
    sha256Context ctx;
    uint8_t digest[32];
    sha256_starts(&ctx);
    sha256_updateWith(&ctx, data.data(), uint32_t(data.size()), sha256_compressPortable);
    sha256_finishWith(&ctx, digest, sha256_compressPortable);
    benchmark::DoNotOptimize(digest);
}

// The same three steps on one context that lives across messages, as ours does on the stack: no allocation
// or algorithm look-up per message.
void opensslSha(const std::vector<uint8_t>& data)
{
    struct reusedContext {
        EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        ~reusedContext()
        {
            EVP_MD_CTX_free(ctx);
            EVP_MD_free(md);
        }
    };
    static const reusedContext reused;
    uint8_t digest[32];
    unsigned int length = 0;
    EVP_DigestInit_ex(reused.ctx, reused.md, nullptr);
    EVP_DigestUpdate(reused.ctx, data.data(), data.size());
    EVP_DigestFinal_ex(reused.ctx, digest, &length);
    benchmark::DoNotOptimize(digest);
}

void hashBytes(benchmark::State& state, void (*hash)(const std::vector<uint8_t>&))
{
    const auto data = buffer(size_t(state.range(0)));
    for (auto _ : state)
        hash(data);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK_CAPTURE(hashBytes, crc32_update, ourCrc)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(hashBytes, crc32_updateTable, tableCrc)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(hashBytes, zlib_crc32, zlibCrc)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(hashBytes, sha256, ourSha)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(hashBytes, sha256_portable, portableSha)->Arg(4096)->Arg(1 << 20);
BENCHMARK_CAPTURE(hashBytes, openssl_sha256, opensslSha)->Arg(4096)->Arg(1 << 20);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* const pairs[][2] = {{"crc32_update", "zlib_crc32"},
                                    {"crc32_updateTable", "zlib_crc32"},
                                    {"sha256", "openssl_sha256"},
                                    {"sha256_portable", "openssl_sha256"}};
    for (const auto& [measured, alternative] : pairs)
        for (const std::string size : {"4096", "1048576"})
            reporter.printCounterRatio(std::string(measured) + " / " + alternative + ", " + size + " bytes",
                                       "hashBytes/" + std::string(measured) + "/" + size,
                                       "hashBytes/" + std::string(alternative) + "/" + size, "bytes_per_second");
    benchmark::Shutdown();
    return 0;
}
