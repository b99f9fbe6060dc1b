#include "client/ddstexture.h"

#include <GL/glew.h>

#include <cstring>

#include "client/clientlogger.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/littleendian.h"


namespace tavrix::ddsTexture {

constexpr uint32_t HEADER_SIZE = 128;
constexpr uint32_t DXT5_BLOCK_BYTES = 16;

void* load(const void* data, uint32_t size, uint32_t* width, uint32_t* height, uint32_t* glFormat, uint32_t* bytes)
{
    *width = 0;
    *height = 0;
    *glFormat = 0;
    *bytes = 0;
    const uint8_t* file = static_cast<const uint8_t*>(data);
    if (!file || size < HEADER_SIZE || std::memcmp(file, "DDS ", 4) != 0) {
        CLIENT_LOG(util::LOG_INFO, "ddsTexture::load() -> NOT_HEADER\n");
        return nullptr;
    }
    if (std::memcmp(file + 84, "DXT5", 4) != 0)
        return nullptr;
    const uint32_t rows = util::getU32(file + 12);
    const uint32_t columns = util::getU32(file + 16);
    const uint32_t mipMapCount = util::getU32(file + 28);
    if (mipMapCount == 0 && size == HEADER_SIZE) {
        CLIENT_LOG(util::LOG_INFO, "ddsTexture::load() -> No Image Data (dwMipMapCount=0)\n");
        return nullptr;
    }
    // Only the top level is handed on, whatever follows it: the upload takes exactly that many bytes.
    const uint64_t blocks = ((uint64_t(columns) + 3) / 4) * ((uint64_t(rows) + 3) / 4);
    if (columns == 0 || rows == 0 || !decodedSizeAllowed(columns, rows, blocks * DXT5_BLOCK_BYTES)) {
        CLIENT_LOG(util::LOG_INFO, "ddsTexture::load() -> invalid image size\n");
        return nullptr;
    }
    if (blocks > (size - HEADER_SIZE) / DXT5_BLOCK_BYTES) {
        CLIENT_LOG(util::LOG_INFO, "ddsTexture::load() -> file truncated / defect\n");
        return nullptr;
    }
    const uint32_t payload = uint32_t(blocks * DXT5_BLOCK_BYTES);
    void* level = roalloc(payload);
    std::memcpy(level, file + HEADER_SIZE, payload);
    *width = columns;
    *height = rows;
    *glFormat = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT;
    *bytes = payload;
    return level;
}

} // namespace tavrix::ddsTexture
