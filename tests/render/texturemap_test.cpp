// The texture atlas over the real texture manager: entries and requests, the size choice and its fatal
// text, the compile task and what destruction gives back.
#include <gtest/gtest.h>

#include <string>

#include "client/texturedecoder.h"
#include "client/texturemap.h"
#include "render/texturefixture.h"

namespace {

using namespace tavrix;
using namespace tavrix::test;

class textureMapTest : public textureFixture {
protected:
    void SetUp() override
    {
        textureFixture::SetUp();
        if (!ready)
            return;
        decoderMaxTextureSize = 16384;
        startTextures();
        loadDefault();
        fallback = textureMgr::getDefaultTexture();
    }
    void TearDown() override
    {
        if (fallback)
            textureMgr::releaseTextureRecord(fallback);
        textureFixture::TearDown();
    }

    // Entries up to `entries` in all, each under keys of its own.
    void fill(textureMap& map, uint32_t entries)
    {
        for (uint32_t i = uint32_t(map.count.load()); i < entries; ++i)
            map.addTexture(fallback, int32_t(i), 1, 0, 0);
    }

    std::string noSizeText(uint32_t entries)
    {
        return "TextureMap - Fatal Error\n\nNo suitable MapSize found that will\nbe capable of hosting all textures\n\nTotal Num Textures: " +
               std::to_string(entries) +
               " (Res: 32px)\n\nNote: if this problem persists, check if your\nHardware mets the minimum-requirements - if it does:\nContact our Support\n";
    }

    textureMgr::texture* fallback = nullptr;
};

TEST_F(textureMapTest, theSmallestSquareThatHoldsEveryEntryIsChosen)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 512}, {256, 512}, {257, 1024}, {1025, 2048}};
    for (const auto& [entries, size] : cases) {
        SCOPED_TRACE(entries);
        textureMap map;
        fill(map, entries);
        ASSERT_EQ(map.count.load(), int32_t(entries));
        map.compile();
        EXPECT_EQ(map.width, size);
        EXPECT_EQ(map.height, size);
        EXPECT_TRUE(captured.contains("texutreMap: Using " + std::to_string(size) + "x" + std::to_string(size) + " Map for hosting " + std::to_string(entries) + " 32px Textures\n"));
        EXPECT_FALSE(map.isCompiled());
        mainTaskQueue::run();
        EXPECT_TRUE(map.isCompiled());
    }
}

TEST_F(textureMapTest, noSizeThatHoldsEveryEntryIsFatal)
{
    textureMap map;
    fill(map, 1025);
    decoderMaxTextureSize = 1024;
    EXPECT_EQ(thrownMessage([&] { map.compile(); }, true), noSizeText(1025));
    // Beyond what the largest size holds, whatever the hardware allows.
    decoderMaxTextureSize = 32768;
    map.count.store(262145);
    EXPECT_EQ(thrownMessage([&] { map.compile(); }, true), noSizeText(262145));
    map.count.store(262144);
    map.compile();
    EXPECT_EQ(map.width, 16384u);
    map.count.store(1025);
    mainTaskQueue::run();
}

TEST_F(textureMapTest, equalRegistrationsShareAnEntryAndCompiledMapsTakeNothing)
{
    const int32_t before = fallback->refCnt.load();
    {
        textureMap map;
        EXPECT_EQ(map.count.load(), 1);
        ASSERT_NE(map.head, nullptr);
        EXPECT_EQ(map.head->texture, fallback);
        map.addTexture(fallback, 7, 8, 1, 2);
        map.addTexture(fallback, 7, 8, 3, 4);
        EXPECT_EQ(map.count.load(), 2);
        const textureMap::request* newest = map.head->requests;
        ASSERT_NE(newest, nullptr);
        EXPECT_EQ(newest->value1, 3);
        ASSERT_NE(newest->next, nullptr);
        EXPECT_EQ(newest->next->value2, 2);

        map.compile();
        mainTaskQueue::run();
        map.addTexture(fallback, 9, 9, 0, 0);
        EXPECT_EQ(map.count.load(), 2);
        EXPECT_TRUE(captured.contains("textureMap::addTexture() -> map is already compiled!\n"));
        textureMap::mtask_compileMap(&map, 0, 0, 0);
        EXPECT_TRUE(captured.contains("textureMap::mtask_compileMap() -> the given map is already compiled!\n"));
    }
    // Every reference taken went back with the atlas; its deletion task runs with the map gone.
    EXPECT_EQ(fallback->refCnt.load(), before);
    mainTaskQueue::run();
}

TEST_F(textureMapTest, aTextureWhoseReferenceCannotBeTakenIsReplacedByTheDefault)
{
    textureMap map;
    std::vector<char> block(sizeof(textureMgr::texture) + 8);
    auto* released = new (block.data()) textureMgr::texture{};
    map.addTexture(released, 1, 1, 0, 0);
    EXPECT_EQ(released->refCnt.load(), 0);
    EXPECT_EQ(map.head->texture, fallback);
    EXPECT_TRUE(captured.contains("textureMap::addTexture() -> increasing reference counter failed - fallback to default texture\n"));
    released->~texture();
}

} // namespace
