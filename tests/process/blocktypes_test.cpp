// The real program against the bundled content: every block type of the definitions is registered with
// its textures, and a second start takes every texture from the compressed cache without reading a file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "clientenv.h"
#include "platformlib/json/parser.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t VERSION = 5;

// "registered Block(name) ID(id)" for each definition of the bundled file.
std::vector<std::string> expectedRegistrations()
{
    std::string text = tavrix::test::readWhole(fs::path(TAVRIX_SOURCE_DIR) / "content/data/test/testBlockDef.json");
    jsonZoneAllocator zones;
    jsonValue root;
    char* end = nullptr;
    EXPECT_EQ(jsonParse(text.data(), &end, &root, zones), JSON_PARSE_OK);
    std::vector<std::string> lines;
    for (jsonNode* block : root)
        for (jsonNode* key : block->value)
            if (std::string(key->key) == "id")
                lines.push_back("blockTypeRegistry: registered Block(" + std::string(block->key) + ") ID(" +
                                std::to_string(uint32_t(key->value.toNumber())) + ")\r\n");
    return lines;
}

void expectEveryBlockType(const std::string& log)
{
    const std::vector<std::string> registered = expectedRegistrations();
    ASSERT_GE(registered.size(), 3u);
    for (const std::string& line : registered)
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    EXPECT_NE(log.find("textureMgr: Default Texture Loaded! (64x64)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(tavrix::test::BUNDLED_FALLBACK_LINE), std::string::npos) << log;
    EXPECT_EQ(tavrix::test::clientErrors(log), tavrix::test::fontErrorsAtSetUp());
}

TEST(blockTypesProcess, everyBundledBlockTypeIsRegisteredAndTheSecondStartDecodesNothing)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::bundledRun run(VERSION);
    ASSERT_TRUE(run.assets.started());

    // The textures may arrive after the menu.
    expectEveryBlockType(tavrix::test::runToTheMenu(run.dir, expectedRegistrations()));

    // Without the texture files a decode would fail, or fetch them again from the server.
    const std::string served = run.assets.log();
    for (const auto& entry : fs::directory_iterator(fs::path(run.dir.path()) / "data/textures"))
        fs::remove(entry.path());
    const std::string log = tavrix::test::runToTheMenu(run.dir, expectedRegistrations());
    expectEveryBlockType(log);
    EXPECT_EQ(run.assets.log().find("/data/textures/", served.size()), std::string::npos) << run.assets.log();
    EXPECT_EQ(log.find("Unsupported Texture Format"), std::string::npos) << log;
}

} // namespace
