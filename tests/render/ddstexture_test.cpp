// The DDS decoder: the top level of DXT5 data passed on unchanged, other formats refused without a word,
// headers whose image is not in the file, and images beyond the texture size limit.
#include <GL/glew.h>

#include "client/ddstexture.h"
#include "imagetest.h"
#include "platformlib/util/loggerinterface.h"

using namespace tavrix::test;
using tavrix::util::LOG_INFO;

namespace {

// A 128-byte header and the given number of payload bytes counting up from 0.
byteString ddsFile(uint32_t width, uint32_t height, uint32_t mipMapCount, size_t payload, const char* fourCC = "DXT5")
{
    byteString file(128, 0);
    file[0] = 'D';
    file[1] = 'D';
    file[2] = 'S';
    file[3] = ' ';
    putLe32(file, 4, 124);
    putLe32(file, 12, height);
    putLe32(file, 16, width);
    putLe32(file, 28, mipMapCount);
    putLe32(file, 76, 32);
    for (int i = 0; i < 4; ++i)
        file[84 + i] = uint8_t(fourCC[i]);
    for (size_t i = 0; i < payload; ++i)
        file.push_back(uint8_t(i * 7));
    return file;
}

class ddsTextureTest : public imageTest {};

TEST_F(ddsTextureTest, theTopLevelIsPassedOnCompressed)
{
    struct levelCase {
        const char* name;
        byteString file;
        uint32_t width, height, bytes;
    };
    const levelCase cases[] = {
        // 4096 + 1024 + 256 + 64 + 16 + 16 + 16 bytes of levels.
        {"64 x 64 with 7 levels", ddsFile(64, 64, 7, 5488), 64, 64, 4096},
        {"partial blocks round up", ddsFile(5, 3, 1, 32), 5, 3, 32},
        {"no count, one level", ddsFile(8, 8, 0, 64), 8, 8, 64},
        // The upload takes exactly the top level; more would fail it.
        {"no count, more behind the level", ddsFile(8, 8, 0, 64 + 16 + 16), 8, 8, 64},
    };
    for (const levelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const decodeResult result = decode(tavrix::ddsTexture::load, c.file);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.width, c.width);
        EXPECT_EQ(result.height, c.height);
        EXPECT_EQ(result.glFormat, uint32_t(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT));
        EXPECT_EQ(result.bytes, c.bytes);
        EXPECT_EQ(result.pixels, byteString(c.file.begin() + 128, c.file.begin() + 128 + c.bytes));
    }
    EXPECT_EQ(captured.texts(), std::vector<std::string>{});
}

TEST_F(ddsTextureTest, otherFormatsFailSilently)
{
    for (const char* fourCC : {"DXT1", "DXT3", "DX10", "dxt5"}) {
        SCOPED_TRACE(fourCC);
        expectFailure(decodeRefused(tavrix::ddsTexture::load, ddsFile(4, 4, 1, 16, fourCC)), captured, LOG_INFO, {});
    }
}

TEST_F(ddsTextureTest, headersWithoutTheirImageFail)
{
    byteString wrongMagic = ddsFile(4, 4, 1, 16);
    wrongMagic[3] = '_';
    byteString shortHeader = ddsFile(4, 4, 0, 0);
    shortHeader.pop_back();
    struct failureCase {
        const char* name;
        byteString file;
        const char* line;
    };
    const failureCase cases[] = {
        {"127 bytes", shortHeader, "ddsTexture::load() -> NOT_HEADER\n"},
        {"no magic", wrongMagic, "ddsTexture::load() -> NOT_HEADER\n"},
        {"header only", ddsFile(4, 4, 0, 0), "ddsTexture::load() -> No Image Data (dwMipMapCount=0)\n"},
        {"header only with a level count", ddsFile(4, 4, 1, 0), "ddsTexture::load() -> file truncated / defect\n"},
        {"top level one byte short", ddsFile(8, 4, 2, 31), "ddsTexture::load() -> file truncated / defect\n"},
        {"no count, level short", ddsFile(8, 8, 0, 48), "ddsTexture::load() -> file truncated / defect\n"},
        {"256 MiB claimed", ddsFile(16384, 16384, 1, 16), "ddsTexture::load() -> file truncated / defect\n"},
        {"beyond any texture", ddsFile(0xFFFFFFFF, 0xFFFFFFFF, 1, 16), "ddsTexture::load() -> invalid image size\n"},
        {"no columns", ddsFile(0, 4, 1, 16), "ddsTexture::load() -> invalid image size\n"},
        {"no rows", ddsFile(4, 0, 0, 16), "ddsTexture::load() -> invalid image size\n"},
    };
    for (const failureCase& c : cases) {
        SCOPED_TRACE(c.name);
        captured.clear();
        expectFailure(decodeRefused(tavrix::ddsTexture::load, c.file), captured, LOG_INFO, {c.line});
    }
}

TEST_F(ddsTextureTest, imagesBeyondTheTextureSizeLimitFail)
{
    expectTextureSizeLimit(
        tavrix::ddsTexture::load,
        [](uint32_t width, uint32_t height) { return ddsFile(width, height, 1, (width + 3) / 4 * ((height + 3) / 4) * 16); },
        captured, LOG_INFO, {"ddsTexture::load() -> invalid image size\n"});
}

} // namespace
