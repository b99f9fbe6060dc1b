// The block-type registry over the real texture manager under Xvfb: definitions read from JSON, their
// errors, the slot bounds with the default-texture fallback, the id range and conflicts, publication after
// the sixth texture, and the world factory's pools.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/blocktyperegistrylocal.h"
#include "client/cvar.h"
#include "client/vfs.h"
#include "platformlib/allocator/pool.h"
#include "render/texturefixture.h"

namespace {

using namespace tavrix;
using namespace tavrix::test;

// One surface as JSON.
std::string surface(const std::string& texture, const std::string& slot)
{
    return "{\"texture\": \"" + texture + "\", \"slot\": " + slot + "}";
}

std::string surfaces(const std::string& one, int count = 6)
{
    std::string list = "[";
    for (int i = 0; i < count; ++i)
        list += (i ? ", " : "") + one;
    return list + "]";
}

std::string block(const std::string& name, const std::string& id, const std::string& surfaceList, const std::string& extra = "")
{
    return "\"" + name + "\": {\"id\": " + id + ", \"isSolid\": true, \"surface\": " + surfaceList + extra + "}";
}

const std::string SQUARE = surfaces(surface("square.png", "[1, 1]"));

// What the world factory reports to the loading screen.
class loadingScreenRecorder final : public vfs::updateSink {
public:
    void setStatusText(screen on, const char* text, uint32_t length) override
    {
        std::lock_guard<std::mutex> guard(lock);
        reports.push_back(std::to_string(on) + ": " + std::string(text, length ? length : std::strlen(text)));
    }
    void setProgress(screen on, int32_t done, int32_t total) override
    {
        std::lock_guard<std::mutex> guard(lock);
        reports.push_back(std::to_string(on) + ": " + std::to_string(done) + " of " + std::to_string(total));
    }
    void setURL(screen, const char*) override {}
    int32_t showDownload() override { return LOADING_SCREEN; }
    void leaveDownload(int32_t) override {}
    void requestClose() override {}

    std::vector<std::string> taken()
    {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }

private:
    std::mutex lock;
    std::vector<std::string> reports;
};

class blockTypeRegistryTest : public textureFixture {
protected:
    void SetUp() override
    {
        textureFixture::SetUp();
        if (!ready)
            return;
        vfs::setUpdateSink(&screens);
        // The client's 3.4 million blocks are not needed here.
        cvar::set("worldFactory.Block.initialAlloc", 1024);
        startTextures();
        loadDefault();
        addFile("data/textures/square.png", pngImage(64, 64, true));
        addFile("data/textures/wide.png", pngImage(64, 32, true));
        addFile("data/textures/small.tga", tgaImage(32, 32));
        addFile("data/test/testBlockDef.json", "{}");
        worldFactory::init();
        blockTypeRegistry::init();
        fallback = textureMgr::getDefaultTexture();
        textureMgr::releaseTextureRecord(fallback);
    }
    void TearDown() override
    {
        if (ready) {
            blockTypeRegistry::final();
            worldFactory::final();
            vfs::setUpdateSink(nullptr);
        }
        textureFixture::TearDown();
    }

    // The definitions, loaded; "" when nothing was thrown, else the fatal message.
    std::string define(const std::string& members)
    {
        const std::string text = "{" + members + "}";
        try {
            blockTypeRegistry::loadJson(text.data(), uint32_t(text.size()));
        } catch (util::Exception* e) {
            std::string message = e->getMessage();
            delete e;
            return message;
        }
        return "";
    }

    bool allPublished() { return drainUntil([] { return blockTypeRegistry::pendingRegistrations() == 0; }); }

    loadingScreenRecorder screens;
    textureMgr::texture* fallback = nullptr;
};

struct slotCase {
    const char* name;
    const char* texture;
    const char* slot;
    bool usesDefault;
    int32_t pixelX;
    int32_t pixelY;
    const char* shownSlot; // as the fallback's line prints it
};

TEST_F(blockTypeRegistryTest, aSlotOutsideItsTextureFallsBackToTheDefault)
{
    const slotCase cases[] = {
        {"insideSquare", "square.png", "[1, 1]", false, 32, 32, ""},
        {"fractionsTruncate", "square.png", "[1.9, 0.2]", false, 32, 0, ""},
        {"tgaTile", "small.tga", "[0, 0]", false, 0, 0, ""},
        {"belowWide", "wide.png", "[1, 1]", true, 0, 0, "[1, 1]"},
        {"rightOfSquare", "square.png", "[2, 0]", true, 0, 0, "[2, 0]"},
        // The line prints the slot as the definition gives it, unsigned as its format has it.
        {"negative", "square.png", "[-1, 0]", true, 0, 0, "[4294967295, 0]"},
        {"beyondTheLargestTexture", "square.png", "[600, 0]", true, 0, 0, "[600, 0]"},
        {"huge", "square.png", "[0, 1e300]", true, 0, 0, "[0, 2147483647]"},
        {"overflowingTimes32", "square.png", "[134217728, 0]", true, 0, 0, "[134217728, 0]"},
    };
    uint32_t id = 1;
    for (const slotCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        ASSERT_EQ(define(block(c.name, std::to_string(id), surfaces(surface(c.texture, c.slot)))), "");
        ASSERT_TRUE(allPublished());
        const blockType* bt = blockTypeRegistry::getBlockType(id);
        ASSERT_NE(bt, nullptr);
        EXPECT_STREQ(bt->sysName, c.name);
        EXPECT_EQ(bt->isSolid, 1);
        for (uint32_t i = 0; i < BLOCKTYPE_SURFACES; ++i) {
            EXPECT_EQ(bt->surface[i].tex == fallback, c.usesDefault) << i;
            EXPECT_EQ(bt->surface[i].pixelX, c.pixelX);
            EXPECT_EQ(bt->surface[i].pixelY, c.pixelY);
            EXPECT_STREQ(bt->surface[i].texture, c.texture);
            if (c.usesDefault) {
                EXPECT_TRUE(captured.contains("blockTypeRegistry: Block(" + std::string(c.name) + ") surface[" + std::to_string(i) + "] - Slot " + c.shownSlot + " Invalid as it exceeds the Texture's Dimensions, using default texture\n"));
            }
        }
        EXPECT_TRUE(captured.contains("blockTypeRegistry: registered Block(" + std::string(c.name) + ") ID(" + std::to_string(id) + ")\n"));
        ++id;
    }
}

struct definitionCase {
    const char* name;
    std::string members;
    std::string fatal;              // "" when the definitions load
    std::vector<std::string> lines; // logged, in any order
    int64_t publishedId;            // -1: none
};

const std::string FAILED = "Faild to Decode the Block Tyhe Definition\n";

std::vector<definitionCase> definitionCases()
{
    const std::string name63(63, 'n');
    const std::string name64(64, 'n');
    return {
        {"fiveSurfaces", block("b", "1", surfaces(surface("square.png", "[0, 0]"), 5)), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> sufrace, expected to have 6 Sides - 5 given\n",
          "blockTypeRegistry: defineBlockFromJson(b) -> Unknonw Key or Invalid Value for key 'surface'\n",
          "blockTypeRegistry: defineBlockFromJson(b) -> Incomplete Definition, ramining keys: 1\n",
          "blockTypeRegistry: error in definition for block 'b'\n"},
         -1},
        {"sevenSurfaces", block("b", "1", surfaces(surface("square.png", "[0, 0]"), 7)), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface, expected to have 6 Sides - exceeding this wont make it having more blocky.\n"},
         -1},
        {"extraKey", block("b", "2", SQUARE, ", \"colour\": 3"), "",
         {"blockTypeRegistry: defineBlockFromJson(b) -> Unknonw Key or Invalid Value for key 'colour'\n"}, 2},
        {"idTwiceNoSurface", "\"b\": {\"id\": 1, \"isSolid\": false, \"id\": 2}", FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> Incomplete Definition, ramining keys: 1\n"}, -1},
        {"surfaceTwiceTheLastCounts", block("b", "3", surfaces(surface("wide.png", "[5, 5]")), ", \"surface\": " + SQUARE), "", {}, 3},
        {"aRefusedSecondSurfaceLeavesNone", block("b", "3", SQUARE, ", \"surface\": []"), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> sufrace, expected to have 6 Sides - 0 given\n",
          "blockTypeRegistry: defineBlockFromJson(b) -> Incomplete Definition, ramining keys: 1\n"},
         -1},
        {"textureTwiceTheLastCounts", block("b", "3", surfaces("{\"texture\": \"wide.png\", \"texture\": \"square.png\", \"slot\": [1, 1]}")), "", {}, 3},
        {"highestId", block("b", "65533", SQUARE), "", {}, 65533},
        {"idBeyondTheMap", block("b", "65534", SQUARE), FAILED,
         {"blockTypeRegistry: registerBlock(b) -> ID(65534) > BLOCKTYPEID_MAX(65534)\n",
          "blockTypeRegistry: defineBlockFromJson(b) -> Registration Failed.\n"},
         -1},
        {"idThatWouldWrap", block("b", "65536", SQUARE), FAILED,
         {"blockTypeRegistry: registerBlock(b) -> ID(65536) > BLOCKTYPEID_MAX(65534)\n"}, -1},
        {"hugeId", block("b", "1e300", SQUARE), FAILED,
         {"blockTypeRegistry: registerBlock(b) -> ID(4294967295) > BLOCKTYPEID_MAX(65534)\n"}, -1},
        {"negativeId", block("b", "-1", SQUARE), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> id expects to be NUMBER\n",
          "blockTypeRegistry: defineBlockFromJson(b) -> Incomplete Definition, ramining keys: 1\n"},
         -1},
        {"idAsText", block("b", "\"7\"", SQUARE), FAILED, {"blockTypeRegistry: defineBlockFromJson(b) -> id expects to be NUMBER\n"}, -1},
        {"fractionalId", block("b", "4.7", SQUARE), "", {}, 4},
        {"sysName63", block(name63, "5", SQUARE), "", {}, 5},
        {"sysName64", block(name64, "5", SQUARE), FAILED,
         {"blockTypeRegistry: defineBlockFromJson -> '" + name64 + "' exceeds the maximum supported sysName Length\n"}, -1},
        {"duplicateId", block("first", "6", SQUARE) + ", " + block("second", "6", SQUARE), FAILED,
         {"blockTypeRegistry: registerblock(second) -> ID CONFLICT ID(6) already in use By 'first'\n",
          "blockTypeRegistry: error in definition for block 'second'\n"},
         6},
        {"isSolidAsNumber", "\"b\": {\"id\": 1, \"isSolid\": 1, \"surface\": " + SQUARE + "}", FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> isSolid expects to be BOOL\n"}, -1},
        {"surfaceNotAnArray", block("b", "1", "{}"), FAILED, {"blockTypeRegistry: defineBlockFromJson(b) -> surface expects to be ARRAY\n"}, -1},
        {"surfaceNotAnObject", block("b", "1", "[1, 2, 3, 4, 5, 6]"), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface[0] expects to be OBJECT\n"}, -1},
        {"surfaceWithoutTexture", block("b", "1", surfaces("{\"slot\": [0, 0]}")), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface[0] error\n"}, -1},
        {"surfaceWithoutSlot", block("b", "1", surfaces("{\"texture\": \"square.png\"}")), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface[0] error\n"}, -1},
        {"textureNotAString", block("b", "1", surfaces("{\"texture\": 5, \"slot\": [0, 0]}")), FAILED,
         {"blockTypeRegsitry: defineBlockFromJson(b) -> surface, texture expects to be STRING\n"}, -1},
        {"slotNotAnArray", block("b", "1", surfaces(surface("square.png", "3"))), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface, slot expects to be ARRAY\n"}, -1},
        {"slotOfText", block("b", "1", surfaces(surface("square.png", "[\"a\", 0]"))), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> surface, slot values expects to be array of numbers\n"}, -1},
        {"slotOfThree", block("b", "1", surfaces(surface("square.png", "[0, 0, 0]"))), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> sufrace, slot expects to be an aray of exactly 2 Numbers (x, y)\n"}, -1},
        {"slotOfOne", block("b", "1", surfaces(surface("square.png", "[0]"))), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> sufrace, slot expects to be an aray of exactly 2 Numbers (x, y)\n"}, -1},
        {"unexpectedSurfaceKey", block("b", "1", surfaces("{\"texture\": \"square.png\", \"slot\": [0, 0], \"tint\": 1}")), FAILED,
         {"blockTypeRegistry: defineBlockFromJson(b) -> unexpected key 'tint' for surface definition!\n"}, -1},
    };
}

TEST_F(blockTypeRegistryTest, definitionsAndTheirErrors)
{
    for (const definitionCase& c : definitionCases()) {
        SCOPED_TRACE(c.name);
        captured.clear();
        EXPECT_EQ(define(c.members), c.fatal);
        ASSERT_TRUE(allPublished());
        for (const std::string& line : c.lines)
            EXPECT_TRUE(captured.contains(line)) << line;
        if (c.publishedId >= 0) {
            EXPECT_NE(blockTypeRegistry::getBlockType(uint32_t(c.publishedId)), nullptr);
        }
        uint32_t published = 0;
        for (uint32_t id = 0; id < BLOCKTYPEID_MAX; ++id)
            published += blockTypeRegistry::getBlockType(id) ? 1 : 0;
        EXPECT_EQ(published, c.publishedId >= 0 ? 1u : 0u);
        blockTypeRegistry::clear();
    }
}

TEST_F(blockTypeRegistryTest, aDocumentThatIsNoObjectOrNoJsonIsFatal)
{
    const std::pair<std::string, std::string> cases[] = {
        {"[]", "blockTypeRegistry: Expected root node to be Object\n"},
        {"{\"a\": ", "blockTypeRegistry: json decode failed.\n"},
        {"", "blockTypeRegistry: json decode failed.\n"},
    };
    for (const auto& [text, line] : cases) {
        SCOPED_TRACE(text);
        captured.clear();
        EXPECT_EQ(thrownMessage([&] { blockTypeRegistry::loadJson(text.data(), uint32_t(text.size())); }, true),
                  "Failed to Decode the Block Type Definition\n");
        EXPECT_TRUE(captured.contains(line));
    }
}

TEST_F(blockTypeRegistryTest, aDefinitionFileThatFailsIsStillGivenBack)
{
    blockTypeRegistry::final();
    // A loose copy under dev/ wins; its buffer belongs to no record, so one not given back is a leak.
    dir.write("dev/data/test/testBlockDef.json", "[]");
    EXPECT_EQ(thrownMessage([] { blockTypeRegistry::init(); }, true), "Failed to Decode the Block Type Definition\n");
}

TEST_F(blockTypeRegistryTest, aBlockTypeIsPublishedOnlyAfterItsSixthTexture)
{
    // Five surfaces of a texture that is in; the sixth one still waits for its upload.
    addFile("data/textures/late.png", pngImage(32, 32, false));
    callRecorder loaded;
    load("square.png", loaded);
    std::string list = "[";
    for (int i = 0; i < 5; ++i)
        list += surface("square.png", "[0, 0]") + ", ";
    list += surface("late.png", "[0, 0]") + "]";
    ASSERT_EQ(define(block("b", "9", list)), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(blockTypeRegistry::getBlockType(9), nullptr);
    EXPECT_EQ(blockTypeRegistry::pendingRegistrations(), 1);
    ASSERT_TRUE(allPublished());
    EXPECT_NE(blockTypeRegistry::getBlockType(9), nullptr);
    textureMgr::releaseTextureRecord(loaded.calls()[0].tex);
}

TEST_F(blockTypeRegistryTest, clearGivesUpOnTexturesThatNeverArrive)
{
    // No frame runs the uploads, and the clear runs on a thread without the OpenGL context: the
    // registration waits for ever.
    addFile("data/textures/never.png", pngImage(32, 32, false));
    ASSERT_EQ(define(block("b", "1", surfaces(surface("never.png", "[0, 0]")))), "");
    const int32_t started = getTimeMs();
    std::thread([] { blockTypeRegistry::final(); }).join();
    EXPECT_GE(getTimeMs() - started, int32_t(blockTypeRegistry::CLEAR_WAIT_MS));
    EXPECT_TRUE(captured.contains("blockTypeRegistry: clear() -> 1 registrations still wait for textures after 10000 ms - left in place\n"));
    // The uploads run now: the block type left behind is published, and the next clear frees it.
    ASSERT_TRUE(allPublished());
    EXPECT_NE(blockTypeRegistry::getBlockType(1), nullptr);
}

TEST_F(blockTypeRegistryTest, aClearOnTheOpenGLThreadRunsTheUploadsItWaitsFor)
{
    // As at shutdown, when the frame loop has ended: the uploads wait on the main task queue, and the
    // thread that clears owns the context.
    addFile("data/textures/late.png", pngImage(32, 32, false));
    ASSERT_EQ(define(block("b", "1", surfaces(surface("late.png", "[0, 0]")))), "");
    blockTypeRegistry::final();
    EXPECT_TRUE(captured.contains("blockTypeRegistry: registered Block(b) ID(1)\n"));
    EXPECT_FALSE(captured.contains("registrations still wait for textures"));
    EXPECT_EQ(blockTypeRegistry::getBlockType(1), nullptr);
}

TEST_F(blockTypeRegistryTest, theWorldFactoryReportsItsProgressAndMakesThePools)
{
    EXPECT_EQ(screens.taken(), (std::vector<std::string>{"0: Preallocating Ressources", "0: 0 of 300", "0: 100 of 300",
                                                         "0: 200 of 300", "0: 300 of 300"}));
    ASSERT_NE(worldFactory::blockTypePool, nullptr);
    ASSERT_NE(worldFactory::chunkPool, nullptr);
    ASSERT_NE(worldFactory::blockPool, nullptr);
    int32_t total = 0;
    int32_t free = 0;
    int32_t peak = 0;
    worldFactory::blockPool->getStats(total, free, peak);
    EXPECT_GE(total, 1024);
    worldFactory::blockTypePool->getStats(total, free, peak);
    EXPECT_GE(total, 64);
    for (const char* key : {"worldFactory.blockType.initialAlloc", "worldFactory.blockType.allocStep", "worldFactory.Chunk.initialAlloc",
                            "worldFactory.Chunk.allocStep", "worldFactory.Block.allocStep"})
        EXPECT_GT(cvar::getI32(key), 0) << key;
    EXPECT_EQ(cvar::getI32("worldFactory.Chunk.initialAlloc"), 1331);
}

} // namespace
