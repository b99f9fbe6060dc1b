// Parse throughput of the in-place JSON parser and the document wrapper, beside RapidJSON's in-situ parser.
// Both parsers decode over their input, so every iteration first copies the text into a scratch buffer.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratioreporter.h"
#include "client/json.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/json/parser.h"

namespace {

// Shaped like data/test/testBlockDef.json: one object per block type with six surfaces.
std::string blockDefinitions(size_t target)
{
    static const char* const textures[] = {"terrain.png", "stone.png", "grass_side.png", "dirt.png", "ores.png"};
    std::mt19937 random(7);
    std::string out = "{\n";
    for (int id = 0; out.size() < target; ++id) {
        char head[128];
        std::snprintf(head, sizeof(head), "%s    \"block_%05d\": {\n        \"id\": %d,\n        \"isSolid\": %s,\n",
                      id ? ",\n" : "", id, id % 65534, id % 3 ? "true" : "false");
        out += head;
        out += "        \"surface\": [\n";
        for (int side = 0; side < 6; ++side) {
            char surface[160];
            std::snprintf(surface, sizeof(surface), "            { \"texture\": \"%s\", \"slot\": [%u, %u] }%s\n",
                          textures[random() % 5], unsigned(random() % 16), unsigned(random() % 16),
                          side < 5 ? "," : "");
            out += surface;
        }
        out += "        ]\n    }";
    }
    out += "\n}\n";
    return out;
}

std::string numbers(size_t target)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    std::string out = "{\"points\": [";
    while (out.size() < target) {
        char point[96];
        std::snprintf(point, sizeof(point), "[%.6f, %.3e, %d],", value(random), value(random), int(random() % 1000));
        out += point;
    }
    out.back() = ']';
    out += "}";
    return out;
}

std::string strings(size_t target)
{
    std::string out = "[";
    for (int i = 0; out.size() < target; ++i)
        out += i % 4 ? "\"plain text of a caption, rather long, number " + std::to_string(i) + "\","
                     : "\"escaped \\\"quote\\\" \\\\ \\n \\u00e9\\u20ac tab\\t end\",";
    out.back() = ']';
    return out;
}

struct document {
    std::string name;
    std::string text;
};

const std::vector<document>& documents()
{
    static const std::vector<document> docs = {
        {"blockdef 10KB", blockDefinitions(10 << 10)},
        {"blockdef 1MB", blockDefinitions(1 << 20)},
        {"blockdef 10MB", blockDefinitions(10 << 20)},
        {"numbers 1MB", numbers(1 << 20)},
        {"strings 1MB", strings(1 << 20)},
    };
    return docs;
}

void parseTavrix(benchmark::State& state, const std::string& text)
{
    std::vector<char> buffer(text.size() + 1);
    for (auto _ : state) {
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        jsonZoneAllocator zones;
        char* end;
        jsonValue value;
        if (jsonParse(buffer.data(), &end, &value, zones) != JSON_PARSE_OK)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// The whole document: its own copy of the text and zones from the tracking allocator.
void parseDocument(benchmark::State& state, const std::string& text)
{
    for (auto _ : state) {
        tavrix::json doc;
        jsonValue value;
        if (!doc.parse(text.c_str(), uint32_t(text.size()), &value, nullptr))
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void parseRapidJson(benchmark::State& state, const std::string& text)
{
    std::vector<char> buffer(text.size() + 1);
    for (auto _ : state) {
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        rapidjson::Document doc;
        doc.ParseInsitu(buffer.data());
        if (doc.HasParseError())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

const char* const parsers[] = {"jsonParse", "tavrix::json", "rapidjson insitu"};

std::string runName(const document& d, int parser) { return "json/" + d.name + "/" + parsers[parser]; }

} // namespace

int main(int argc, char** argv)
{
    roalloc_init();
    for (const document& d : documents()) {
        benchmark::RegisterBenchmark(runName(d, 0).c_str(), parseTavrix, d.text);
        benchmark::RegisterBenchmark(runName(d, 1).c_str(), parseDocument, d.text);
        benchmark::RegisterBenchmark(runName(d, 2).c_str(), parseRapidJson, d.text);
    }
    benchmark::Initialize(&argc, argv);
    tavrix::bench::ratioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Throughput against RapidJSON's.
    for (const document& d : documents())
        for (int parser : {0, 1})
            reporter.printCounterRatio(d.name + ": " + parsers[parser] + " / rapidjson", runName(d, parser), runName(d, 2),
                                       "bytes_per_second");
    benchmark::Shutdown();
    roalloc_final();
    return 0;
}
