#pragma once
// Images of a page, decoded into cairo surfaces.
#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string_view>

namespace eawebkit::engine {

struct surfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using surfacePtr = std::unique_ptr<cairo_surface_t, surfaceRelease>;

inline constexpr int kMaxImageSide = 8192;

// The bytes a PNG image takes decoded (4 a pixel), read from its header; 0 when the data is not one or it
// is larger than kMaxImageSide on a side.
uint64_t decodedBytes(std::string_view data);

// A PNG image, or null when the data is not one or it is larger than kMaxImageSide on a side.
surfacePtr decodeImage(std::string_view data);

} // namespace eawebkit::engine
