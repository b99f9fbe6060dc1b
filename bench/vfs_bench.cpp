// The content store's loads and its rebuild, each beside the usual way of doing the same work:
// readFile of 1000 small and 10 large files, cold (read from disk and checked against the CRC-32) and warm
// (shared from memory), against fopen/fread/fclose of the same files; reindex of a tree of 5000 files of
// 4096 bytes, of one of 20000 files of 500 bytes and of one of 16 files of 8 MiB against sha256sum and
// against openssl dgst -sha256 over the same files (coreutils hashes at a fraction of OpenSSL's speed,
// which shows on large files). The ratios (ours over theirs, in time) are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/ratioreporter.h"
#include "client/cvar.h"
#include "client/timer.h"
#include "client/vfslocal.h"
#include "platformlib/allocator/roalloc.h"
#include "support/bytegenerator.h"

namespace vfs = tavrix::vfs;
namespace fs = std::filesystem;

namespace {

constexpr int SMALL_FILES = 1000;
constexpr uint32_t SMALL_BYTES = 2048;
constexpr int LARGE_FILES = 10;
constexpr uint32_t LARGE_BYTES = 8u << 20;
// The reindexed trees: data/tree0, data/tree1 and data/tree2 (reindexing takes only content paths, under
// data/).
struct treeShape {
    int files;
    uint32_t bytes;
};
constexpr treeShape TREES[] = {{5000, 4096}, {20000, 500}, {16, 8u << 20}};
constexpr int64_t TREE_COUNT = sizeof(TREES) / sizeof(TREES[0]);

std::vector<std::string> smallPaths;
std::vector<std::string> largePaths;

void writeFile(const std::string& path, uint32_t bytes, uint32_t seed)
{
    fs::create_directories(fs::path(path).parent_path());
    const std::string data = tavrix::test::byteGenerator(seed * 2654435761u + 1).text(bytes);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), data.size(), 1, file);
    std::fclose(file);
}

void writeLoadFiles()
{
    for (int i = 0; i < SMALL_FILES; ++i) {
        smallPaths.push_back("data/small/" + std::to_string(i) + ".bin");
        writeFile(smallPaths.back(), SMALL_BYTES, uint32_t(i));
    }
    for (int i = 0; i < LARGE_FILES; ++i) {
        largePaths.push_back("data/large/" + std::to_string(i) + ".bin");
        writeFile(largePaths.back(), LARGE_BYTES, uint32_t(i + SMALL_FILES));
    }
}

// The load benchmarks' files in the file table, and not the trees.
void indexLoadFiles()
{
    vfs::cleanMetaData();
    vfs::reindex("data/small", true);
    vfs::reindex("data/large", true);
}

void readAll(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        uint32_t size = 0;
        void* data = vfs::readFile(path.c_str(), &size);
        benchmark::DoNotOptimize(data);
        vfs::releaseFile(data);
    }
}

void freadAll(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        std::fseek(file, 0, SEEK_END);
        const long size = std::ftell(file);
        std::fseek(file, 0, SEEK_SET);
        char* data = static_cast<char*>(std::malloc(size_t(size) + 1));
        if (std::fread(data, size_t(size), 1, file) != 1)
            std::abort();
        data[size] = '\0';
        std::fclose(file);
        benchmark::DoNotOptimize(data);
        std::free(data);
    }
}

uint64_t bytesOf(const std::vector<std::string>& paths) { return paths.size() * (paths == smallPaths ? SMALL_BYTES : LARGE_BYTES); }

// Every pass reads from disk: the collection drops the data the pass before released. As in freads, one
// pass runs before the timing: the process's heap grows once to hold a pass, whoever reads first, and with
// few iterations that growth would be most of what is timed.
void coldReads(benchmark::State& state, const std::vector<std::string>& paths)
{
    tavrix::cvar::set("vfs.gc.freeAfter", 0);
    readAll(paths);
    vfs::onGC(0, nullptr, nullptr);
    for (auto _ : state) {
        readAll(paths);
        vfs::onGC(0, nullptr, nullptr);
    }
    state.SetBytesProcessed(int64_t(state.iterations() * bytesOf(paths)));
}

// One reference is held throughout, so every load shares the data in memory.
void warmReads(benchmark::State& state, const std::vector<std::string>& paths)
{
    std::vector<void*> held;
    for (const std::string& path : paths) {
        uint32_t size = 0;
        held.push_back(vfs::readFile(path.c_str(), &size));
    }
    for (auto _ : state)
        readAll(paths);
    for (void* data : held)
        vfs::releaseFile(data);
    vfs::onGC(0, nullptr, nullptr);
    state.SetBytesProcessed(int64_t(state.iterations() * bytesOf(paths)));
}

void freads(benchmark::State& state, const std::vector<std::string>& paths)
{
    freadAll(paths);
    for (auto _ : state)
        freadAll(paths);
    state.SetBytesProcessed(int64_t(state.iterations() * bytesOf(paths)));
}

void BM_readFileSmallCold(benchmark::State& state) { coldReads(state, smallPaths); }
void BM_readFileSmallWarm(benchmark::State& state) { warmReads(state, smallPaths); }
void BM_freadSmall(benchmark::State& state) { freads(state, smallPaths); }
void BM_readFileLargeCold(benchmark::State& state) { coldReads(state, largePaths); }
void BM_readFileLargeWarm(benchmark::State& state) { warmReads(state, largePaths); }
void BM_freadLarge(benchmark::State& state) { freads(state, largePaths); }

std::string treeName(int64_t tree) { return "data/tree" + std::to_string(tree); }

int64_t treeBytes(int64_t tree) { return int64_t(TREES[tree].files) * TREES[tree].bytes; }

void BM_reindexTree(benchmark::State& state)
{
    const std::string tree = treeName(state.range(0));
    for (auto _ : state) {
        vfs::cleanMetaData();
        vfs::reindex(tree.c_str(), true);
        state.PauseTiming();
        vfs::fileDB_wipe();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * treeBytes(state.range(0)));
    indexLoadFiles();
}

// Every file of the tree through a hashing tool, as many to a process as xargs gives it.
void hashTree(benchmark::State& state, const std::string& tool)
{
    const std::string command = "find " + treeName(state.range(0)) + " -type f -print0 | xargs -0 " + tool + " > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError((tool + " failed").c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * treeBytes(state.range(0)));
}

void BM_sha256sumTree(benchmark::State& state) { hashTree(state, "sha256sum"); }
void BM_opensslTree(benchmark::State& state) { hashTree(state, "openssl dgst -sha256"); }

#define TREE_ARGS ->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_reindexTree) TREE_ARGS;
BENCHMARK(BM_sha256sumTree) TREE_ARGS;
BENCHMARK(BM_opensslTree) TREE_ARGS;
BENCHMARK(BM_readFileSmallCold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_readFileSmallWarm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_freadSmall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_readFileLargeCold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_readFileLargeWarm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_freadLarge)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string dir = fs::temp_directory_path().string() + "/tavrix-vfs-bench-XXXXXX";
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0)
        return 1;
    roalloc_init();
    tavrix::cvar::init();
    tavrix::cvar::set("vfs.gc.interval", 100000000);
    timer_init();
    vfs::init();
    vfs::startCollection();
    for (int64_t tree = 0; tree < TREE_COUNT; ++tree)
        for (int i = 0; i < TREES[tree].files; ++i)
            writeFile(treeName(tree) + "/" + std::to_string(i % 50) + "/" + std::to_string(i) + ".bin", TREES[tree].bytes, uint32_t(i));
    writeLoadFiles();
    indexLoadFiles();

    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nTime ratios (below 1: the content store is faster)\n");
    const char* const pairs[][2] = {{"BM_readFileSmallCold", "BM_freadSmall"}, {"BM_readFileSmallWarm", "BM_freadSmall"},
                                    {"BM_readFileLargeCold", "BM_freadLarge"}, {"BM_readFileLargeWarm", "BM_freadLarge"}};
    for (const auto& [measured, alternative] : pairs)
        reporter.printTimeRatio(std::string(measured) + " / " + alternative, measured, alternative);
    for (int64_t tree = 0; tree < TREE_COUNT; ++tree) {
        const std::string arg = "/" + std::to_string(tree) + "/real_time";
        for (const char* alternative : {"BM_sha256sumTree", "BM_opensslTree"})
            reporter.printTimeRatio("BM_reindexTree" + arg + " / " + alternative + arg, "BM_reindexTree" + arg, alternative + arg);
    }

    vfs::final();
    timer_final();
    tavrix::cvar::final();
    roalloc_final();
    chdir("/");
    fs::remove_all(dir);
    return 0;
}
