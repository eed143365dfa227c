#include "png_files.h"

#include <zlib.h>

#include <fstream>
#include <random>
#include <stdexcept>

int channelsOf(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

PngContent randomPng(int width, int height, int colourType, int bitDepth, unsigned seed)
{
    std::mt19937 random(seed);
    PngContent content;
    content.width = width;
    content.height = height;
    content.colourType = colourType;
    content.bitDepth = bitDepth;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        content.palette.resize(std::size_t(1) << bitDepth);
        for (png_color& colour : content.palette)
            colour = {static_cast<png_byte>(random()), static_cast<png_byte>(random()),
                      static_cast<png_byte>(random())};
    }
    content.samples.resize(std::size_t(width) * height * channelsOf(colourType));
    for (std::uint16_t& sample : content.samples)
        sample = static_cast<std::uint16_t>(random() & ((1u << bitDepth) - 1));
    return content;
}

namespace {

void appendBytes(png_structp png, png_bytep data, std::size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

// One row in the file's layout: samples big-endian, or packed into bytes.
std::vector<png_byte> packRow(const PngContent& c, int row)
{
    const int samples = c.width * channelsOf(c.colourType);
    const std::uint16_t* source = &c.samples[std::size_t(row) * samples];
    std::vector<png_byte> bytes((std::size_t(samples) * c.bitDepth + 7) / 8);
    for (int k = 0; k < samples; ++k) {
        if (c.bitDepth == 16) {
            bytes[2 * k] = static_cast<png_byte>(source[k] >> 8);
            bytes[2 * k + 1] = static_cast<png_byte>(source[k]);
        } else {
            const int bit = k * c.bitDepth;
            bytes[bit / 8] |= static_cast<png_byte>(source[k] << (8 - c.bitDepth - bit % 8));
        }
    }
    return bytes;
}

void writeChunksBeforePixels(png_structp png, png_infop info, const PngContent& c)
{
    png_set_IHDR(png, info, c.width, c.height, c.bitDepth, c.colourType,
                 c.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!c.palette.empty())
        png_set_PLTE(png, info, c.palette.data(), static_cast<int>(c.palette.size()));
    if (!c.paletteAlpha.empty() || c.transparentColour)
        png_set_tRNS(png, info, c.paletteAlpha.empty() ? nullptr : c.paletteAlpha.data(),
                     static_cast<int>(c.paletteAlpha.size()), &c.transparent);
    if (c.gamma > 0.0)
        png_set_gAMA(png, info, c.gamma);
    if (c.srgb)
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (c.chromaticities)
        png_set_cHRM(png, info, 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06);
    if (c.background)
        png_set_bKGD(png, info, &c.backgroundColour);
    if (c.significantBits)
        png_set_sBIT(png, info, &c.significant);
    png_write_info(png, info);
}

} // namespace

std::string encodePng(const PngContent& c)
{
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<std::vector<png_byte>> rows;
    for (int r = 0; r < c.height; ++r)
        rows.push_back(packRow(c, r));
    std::vector<png_bytep> rowPointers;
    for (auto& row : rows)
        rowPointers.push_back(row.data());
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng cannot write this PNG content");
    }
    png_set_write_fn(png, &bytes, appendBytes, nullptr);
    writeChunksBeforePixels(png, info, c);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

namespace {

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k)
        value = value << 8 | static_cast<unsigned char>(bytes[at + k]);
    return value;
}

std::string bigEndianBytes(std::uint32_t value)
{
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

} // namespace

std::vector<PngChunk> pngChunks(const std::string& png)
{
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = bigEndian32(png, at);
        chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
        at += 12 + std::size_t(length);
    }
    return chunks;
}

std::string joinPngChunks(const std::vector<PngChunk>& chunks)
{
    std::string png("\x89PNG\r\n\x1a\n", 8);
    for (const PngChunk& chunk : chunks) {
        const std::string typed = chunk.type + chunk.data;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
        png += bigEndianBytes(static_cast<std::uint32_t>(chunk.data.size())) + typed +
               bigEndianBytes(static_cast<std::uint32_t>(crc));
    }
    return png;
}

std::string insertPngChunk(const std::string& png, const PngChunk& chunk, const std::string& before)
{
    std::vector<PngChunk> chunks = pngChunks(png);
    for (std::size_t k = 0; k < chunks.size(); ++k)
        if (chunks[k].type == before) {
            chunks.insert(chunks.begin() + k, chunk);
            break;
        }
    return joinPngChunks(chunks);
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
