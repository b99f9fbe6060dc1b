// The PNG decoder against plain libpng use (png_read_png into its own rows, then the rows copied bottom
// first, as a caller would; and libpng's simplified reader with a negative stride), and the BMP, TGA and
// DDS decoders' throughput. Bytes per second count decoded bytes; "ratio" is the rival's time over ours.
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/bmptexture.h"
#include "client/ddstexture.h"
#include "client/pngtexture.h"
#include "client/tgatexture.h"
#include "platformlib/allocator/roalloc.h"
#include "support/bytegenerator.h"

namespace {

using byteString = std::vector<uint8_t>;

// A texture-like image: smooth gradients with a little noise, 4 channels.
byteString texturePixels(uint32_t width, uint32_t height, uint32_t channels)
{
    byteString pixels(size_t(width) * height * channels);
    tavrix::test::byteGenerator noise(2463534242u);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t x = noise.next();
        const size_t pixel = i / channels;
        const uint32_t column = uint32_t(pixel % width), row = uint32_t(pixel / width);
        pixels[i] = uint8_t((column * (i % channels + 1) + row * 2) / 4 + (x & 7));
    }
    return pixels;
}

void appendWritten(png_structp png, png_bytep data, size_t length)
{
    byteString* out = static_cast<byteString*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

byteString pngFile(uint32_t width, uint32_t height, bool alpha)
{
    const uint32_t channels = alpha ? 4 : 3;
    byteString pixels = texturePixels(width, height, channels);
    byteString file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        std::abort();
    png_set_write_fn(png, &file, appendWritten, nullptr);
    png_set_IHDR(png, info, width, height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < height; ++y)
        rows.push_back(pixels.data() + size_t(y) * width * channels);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

void putLe16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void putLe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

byteString bmpFile(uint32_t width, uint32_t height)
{
    const uint32_t stride = (width * 3 + 3) & ~3u;
    byteString file(54);
    file[0] = 'B';
    file[1] = 'M';
    putLe32(&file[10], 54);
    putLe32(&file[14], 40);
    putLe32(&file[18], width);
    putLe32(&file[22], height);
    putLe16(&file[28], 24);
    const byteString pixels = texturePixels(width, height, 3);
    for (uint32_t y = 0; y < height; ++y) {
        file.insert(file.end(), pixels.begin() + size_t(y) * width * 3, pixels.begin() + size_t(y + 1) * width * 3);
        file.resize(54 + size_t(y + 1) * stride, 0);
    }
    return file;
}

byteString tgaFile(uint32_t width, uint32_t height, bool runLength)
{
    byteString file(18);
    file[2] = runLength ? 10 : 2;
    putLe16(&file[12], uint16_t(width));
    putLe16(&file[14], uint16_t(height));
    file[16] = 32;
    const byteString pixels = texturePixels(width, height, 4);
    if (!runLength) {
        file.insert(file.end(), pixels.begin(), pixels.end());
        return file;
    }
    // Runs of 8 equal pixels: what flat areas of a texture give.
    for (size_t i = 0; i < pixels.size(); i += 4 * 8) {
        file.push_back(0x80 | 7);
        file.insert(file.end(), pixels.begin() + i, pixels.begin() + i + 4);
    }
    return file;
}

byteString ddsFile(uint32_t width, uint32_t height)
{
    byteString file(128 + size_t(width / 4) * (height / 4) * 16, 0x5A);
    std::fill(file.begin(), file.begin() + 128, 0);
    std::memcpy(&file[0], "DDS ", 4);
    putLe32(&file[12], height);
    putLe32(&file[16], width);
    putLe32(&file[28], 1);
    std::memcpy(&file[84], "DXT5", 4);
    return file;
}

// One decode through a textureDecoder; the bytes it gave.
uint32_t ours(tavrix::textureDecoder load, const byteString& file)
{
    uint32_t width, height, format, bytes;
    void* pixels = load(file.data(), uint32_t(file.size()), &width, &height, &format, &bytes);
    if (!pixels)
        std::abort();
    rofree(pixels);
    return bytes;
}

struct memorySource {
    const byteString* file;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep destination, size_t length)
{
    memorySource* source = static_cast<memorySource*>(png_get_io_ptr(png));
    std::memcpy(destination, source->file->data() + source->position, length);
    source->position += length;
}

// The common way: png_read_png with the same transforms, then its rows copied into one buffer, bottom first.
uint32_t libpngReadPng(const byteString& file)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        std::abort();
    memorySource source{&file, 0};
    png_set_read_fn(png, &source, readFromMemory);
    png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING | PNG_TRANSFORM_EXPAND, nullptr);
    const uint32_t height = png_get_image_height(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    png_bytepp rows = png_get_rows(png, info);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    for (uint32_t i = 0; i < height; ++i)
        std::memcpy(pixels + (height - 1 - i) * rowBytes, rows[i], rowBytes);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
    return uint32_t(rowBytes * height);
}

// libpng's simplified reader, writing bottom row first through a negative stride.
uint32_t libpngSimplified(const byteString& file)
{
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        std::abort();
    image.format = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const uint32_t bytes = PNG_IMAGE_SIZE(image);
    void* pixels = std::malloc(bytes);
    if (!png_image_finish_read(&image, nullptr, pixels, -int32_t(PNG_IMAGE_ROW_STRIDE(image)), nullptr))
        std::abort();
    benchmark::DoNotOptimize(pixels);
    std::free(pixels);
    return bytes;
}

template <typename Decode>
double secondsPerDecode(Decode decode, const byteString& file)
{
    const int rounds = 30;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        decode(file);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() / rounds;
}

// 512 x 512 RGBA, or 1024 x 1024 RGB.
const byteString& pngOfSide(int64_t side)
{
    static const byteString rgba512 = pngFile(512, 512, true), rgb1024 = pngFile(1024, 1024, false);
    return side == 512 ? rgba512 : rgb1024;
}

uint32_t pngOurs(const byteString& file) { return ours(tavrix::pngTexture::load, file); }

void BM_pngTexture(benchmark::State& state)
{
    const byteString& file = pngOfSide(state.range(0));
    uint32_t bytes = 0;
    for (auto _ : state)
        bytes = pngOurs(file);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    const double mine = secondsPerDecode(pngOurs, file);
    state.counters["ratio_readPng"] = secondsPerDecode(libpngReadPng, file) / mine;
    state.counters["ratio_simplified"] = secondsPerDecode(libpngSimplified, file) / mine;
}

void BM_libpng_readPng(benchmark::State& state)
{
    const byteString& file = pngOfSide(state.range(0));
    uint32_t bytes = 0;
    for (auto _ : state)
        bytes = libpngReadPng(file);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

void BM_libpng_simplified(benchmark::State& state)
{
    const byteString& file = pngOfSide(state.range(0));
    uint32_t bytes = 0;
    for (auto _ : state)
        bytes = libpngSimplified(file);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

void throughput(benchmark::State& state, tavrix::textureDecoder load, const byteString& file)
{
    uint32_t bytes = 0;
    for (auto _ : state)
        bytes = ours(load, file);
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * bytes / 4);
}

void BM_bmpTexture_24bit(benchmark::State& state) { throughput(state, tavrix::bmpTexture::load, bmpFile(1024, 1024)); }
void BM_tgaTexture_32bit(benchmark::State& state)
{
    throughput(state, tavrix::tgaTexture::load, tgaFile(1024, 1024, false));
}
void BM_tgaTexture_runLength(benchmark::State& state)
{
    throughput(state, tavrix::tgaTexture::load, tgaFile(1024, 1024, true));
}
void BM_ddsTexture(benchmark::State& state) { throughput(state, tavrix::ddsTexture::load, ddsFile(1024, 1024)); }

BENCHMARK(BM_pngTexture)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libpng_readPng)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libpng_simplified)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bmpTexture_24bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tgaTexture_32bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_tgaTexture_runLength)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ddsTexture)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    roalloc_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    roalloc_final();
    return 0;
}
