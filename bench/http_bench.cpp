// httpGET against the curl program, both downloading the same 100 MB file from a server on 127.0.0.1.
// Each reports bytes per second; the "ratio" counter on httpGET's side is its speed over curl's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "client/vfshttplib.h"
#include "platformlib/allocator/roalloc.h"
#include "support/bytegenerator.h"
#include "support/httpfixture.h"

namespace {

constexpr uint32_t FILE_BYTES = 100u << 20;

std::unique_ptr<tavrix::test::httpFixture> fixture;

tavrix::test::httpFixture& server() { return *fixture; }

std::string randomBytes(uint32_t n) { return tavrix::test::byteGenerator(2463534242u).text(n); }

void ourDownload()
{
    uint32_t size = 0;
    const tavrix::roPtr<char> body = tavrix::vfsHttpLib::httpGET(server().url("/big").c_str(), &size);
    if (!body || size != FILE_BYTES)
        throw std::runtime_error("httpGET failed");
}

void curlDownload()
{
    const std::string command = "curl -s -o /dev/null '" + server().url("/big") + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("curl failed");
}

double secondsPerDownload(void (*download)())
{
    constexpr int ROUNDS = 3;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ROUNDS; ++i)
        download();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / ROUNDS;
}

void run(benchmark::State& state, void (*download)(), void (*rival)())
{
    for (auto _ : state)
        download();
    state.SetBytesProcessed(int64_t(state.iterations()) * FILE_BYTES);
    if (rival)
        state.counters["ratio"] = secondsPerDownload(rival) / secondsPerDownload(download);
}

void BM_httpGET(benchmark::State& state) { run(state, ourDownload, curlDownload); }
void BM_curl_program(benchmark::State& state) { run(state, curlDownload, nullptr); }

BENCHMARK(BM_httpGET)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_curl_program)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    roalloc_init();
    tavrix::vfsHttpLib::init();
    fixture = std::make_unique<tavrix::test::httpFixture>();
    fixture->put("/big", randomBytes(FILE_BYTES));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture.reset();
    tavrix::vfsHttpLib::final();
    roalloc_final();
    return 0;
}
