#include "webengine/images.h"

#include <cstdint>
#include <cstring>

namespace eawebkit::engine {
namespace {

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace

// The size in the header chunk, read before the decoder allocates anything for it.
uint64_t decodedBytes(std::string_view data)
{
    auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    if (data.size() < 24 || std::memcmp(bytes, kPngSignature, 8) != 0 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return 0;
    uint32_t width = bigEndian32(bytes + 16), height = bigEndian32(bytes + 20);
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide)
        return 0;
    return uint64_t(width) * height * 4;
}

namespace {

struct reader {
    std::string_view data;
};

cairo_status_t readChunk(void* closure, unsigned char* out, unsigned int length)
{
    auto* r = static_cast<reader*>(closure);
    if (length > r->data.size())
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, r->data.data(), length);
    r->data.remove_prefix(length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

surfacePtr decodeImage(std::string_view data)
{
    if (decodedBytes(data) == 0)
        return nullptr;
    reader r{data};
    surfacePtr surface(cairo_image_surface_create_from_png_stream(readChunk, &r));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    return surface;
}

} // namespace eawebkit::engine
