#include "png_files.h"
#include "tool_runner.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace {

// The rows in the file's layout: samples big-endian, or packed into bytes.
std::vector<std::vector<png_byte>> fileRows(const PngContent& c)
{
    const int samples = c.width * kChannelsOf[c.colourType];
    std::vector<std::vector<png_byte>> rows(c.height, std::vector<png_byte>((samples * c.bitDepth + 7) / 8));
    for (int r = 0; r < c.height; ++r)
        for (int k = 0; k < samples; ++k) {
            const unsigned sample = c.samples[std::size_t(r) * samples + k], bit = k * c.bitDepth;
            if (c.bitDepth == 16)
                rows[r][2 * k] = png_byte(sample >> 8), rows[r][2 * k + 1] = png_byte(sample);
            else
                rows[r][bit / 8] |= png_byte(sample << (8 - c.bitDepth - bit % 8));
        }
    return rows;
}

std::string bigEndian(std::uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

} // namespace

int pngPrediction(int filter, int a, int b, int c)
{
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    return filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : filter == 4 ? paeth : 0;
}

PngContent randomPng(int width, int height, int colourType, int bitDepth, unsigned seed)
{
    std::mt19937 random(seed);
    PngContent c{width, height, colourType, bitDepth, {}, {}};
    for (int k = 0; colourType == PNG_COLOR_TYPE_PALETTE && k < 1 << bitDepth; ++k)
        c.palette.push_back({png_byte(random()), png_byte(random()), png_byte(random())});
    c.samples.resize(std::size_t(width) * height * kChannelsOf[colourType]);
    for (std::uint16_t& sample : c.samples)
        sample = static_cast<std::uint16_t>(random() & ((1u << bitDepth) - 1));
    return c;
}

std::string encodePng(const PngContent& c)
{
    std::vector<std::vector<png_byte>> rows = fileRows(c);
    std::vector<png_bytep> rowPointers;
    for (std::vector<png_byte>& row : rows)
        rowPointers.push_back(row.data());
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        throw std::runtime_error("libpng cannot write this PNG content");
    const auto append = [](png_structp p, png_bytep data, std::size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
    };
    png_set_write_fn(png, &bytes, append, nullptr);
    png_set_IHDR(png, info, c.width, c.height, c.bitDepth, c.colourType,
                 c.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!c.palette.empty())
        png_set_PLTE(png, info, c.palette.data(), static_cast<int>(c.palette.size()));
    if (c.gamma > 0.0)
        png_set_gAMA(png, info, c.gamma);
    // Alpha for each palette entry, or the colour of the first pixel, so that some pixels have it.
    std::vector<png_byte> alpha;
    for (std::size_t k = 0; k < c.palette.size(); ++k)
        alpha.push_back(static_cast<png_byte>(k * 37));
    const int step = kChannelsOf[c.colourType] == 3 ? 1 : 0;
    png_color_16 colour{0, c.samples[0], c.samples[step], c.samples[2 * step], c.samples[0]};
    if (c.transparent && (c.colourType & PNG_COLOR_MASK_ALPHA) == 0)
        png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), &colour);
    png_write_info(png, info);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

std::vector<PngChunk> pngChunks(const std::string& png)
{
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8, length = 0; at + 12 <= png.size(); at += 12 + length) {
        length = 0;
        for (int k = 0; k < 4; ++k)
            length = length << 8 | static_cast<unsigned char>(png[at + k]);
        chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
    }
    return chunks;
}

std::string joinPngChunks(const std::vector<PngChunk>& chunks)
{
    std::string png("\x89PNG\r\n\x1a\n", 8);
    for (const PngChunk& chunk : chunks) {
        const std::string typed = chunk.type + chunk.data;
        png += bigEndian(static_cast<std::uint32_t>(chunk.data.size())) + typed +
               bigEndian(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
    }
    return png;
}

PngChunk headerChunk(const PngContent& c)
{
    return {"IHDR",
            bigEndian(c.width) + bigEndian(c.height) + char(c.bitDepth) + char(c.colourType) + std::string(3, '\0')};
}

std::vector<PngChunk> imageDataChunks(const PngContent& c, const PngWriting& writing)
{
    const std::vector<std::vector<png_byte>> rows = fileRows(c);
    const int pixelBytes = std::max(1, kChannelsOf[c.colourType] * c.bitDepth / 8);
    std::string filtered;
    const std::vector<png_byte> zeros(rows.empty() ? 0 : rows[0].size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::vector<png_byte>& row = rows[r];
        const std::vector<png_byte>& prior = r > 0 ? rows[r - 1] : zeros;
        const int filter = writing.filters[r % writing.filters.size()];
        filtered += char(filter);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int a = i >= std::size_t(pixelBytes) ? row[i - pixelBytes] : 0, b = prior[i],
                      c0 = i >= std::size_t(pixelBytes) ? prior[i - pixelBytes] : 0;
            filtered += char(row[i] - pngPrediction(filter, a, b, c0));
        }
    }
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    std::string stream(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&stream[0]), &size, reinterpret_cast<const Bytef*>(filtered.data()),
                  static_cast<uLong>(filtered.size()), writing.level) != Z_OK)
        throw std::runtime_error("zlib cannot compress the rows");
    stream.resize(size);
    std::vector<PngChunk> chunks;
    for (std::size_t at = 0; at < stream.size(); at += writing.chunkBytes)
        chunks.push_back({"IDAT", stream.substr(at, writing.chunkBytes)});
    return chunks;
}

std::string exifData(const std::vector<ExifEntry>& entries, bool littleEndian, std::size_t padding)
{
    std::string data;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            data += char(littleEndian ? v >> (8 * k) : v >> (8 * (bytes - 1 - k)));
    };
    data += littleEndian ? "II" : "MM";
    put(42, 2);
    put(8, 4);
    put(static_cast<std::uint32_t>(entries.size()), 2);
    for (const ExifEntry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(e.count, 4);
        // A short value sits in the field's first bytes, in either byte order.
        if (e.type == 3 && e.count == 1)
            put(e.value, 2), put(0, 2);
        else
            put(e.value, 4);
    }
    return data + std::string(4 + padding, '\0'); // no next directory
}

PngOutcome readPng(const std::string& path, bool keepSixteenBits, PngDecoder decoder)
{
    PngOutcome o;
    try {
        o.image = readGreyPng(path, keepSixteenBits, o.sixteenBitFile, &o.coloursDiffer, decoder, &o.fast);
    } catch (const PngError& e) {
        o.message = e.what();
        o.truncated = e.truncated;
    }
    return o;
}

std::string pngFile(const std::string& bytes)
{
    static const std::string path = makeTempDir("png") + "/test.png";
    writeFile(path, bytes);
    return path;
}
