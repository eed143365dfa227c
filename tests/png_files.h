#pragma once

// PNG files of every kind for the reader's tests: written by libpng, or
// filtered, compressed and cut into chunks here, row filters and all chosen.

#include "readers/png_reader.h"

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

struct PngContent {
    int width, height, colourType, bitDepth;
    std::vector<std::uint16_t> samples; // rows of width * channels samples
    std::vector<png_color> palette;
    bool interlaced = false;
    double gamma = 0.0;       // a gAMA chunk when above 0: it changes how libpng weighs colours into grey
    bool transparent = false; // a tRNS chunk, which adds an alpha channel to drop
};

constexpr int kChannelsOf[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type

// Random samples, and for palette images a random palette, of the given kind.
PngContent randomPng(int width, int height, int colourType, int bitDepth, unsigned seed);

// The file as libpng writes it.
std::string encodePng(const PngContent& content);

struct PngChunk {
    std::string type, data;
};

std::vector<PngChunk> pngChunks(const std::string& png);

// The signature and the chunks, each with its length and a correct CRC.
std::string joinPngChunks(const std::vector<PngChunk>& chunks);

// How rows become IDAT chunks: row r gets filters[r % size] (0 None to 4
// Paeth), the zlib stream is made at `level` and cut into chunks of
// `chunkBytes`.
struct PngWriting {
    std::vector<int> filters{0, 1, 2, 3, 4};
    int level = 6;
    std::size_t chunkBytes = 1 << 20;
};

// What PNG's row filter `filter` (0 None to 4 Paeth) predicts of a byte from
// the byte a pixel to its left (a), the one above (b) and above that (c).
int pngPrediction(int filter, int a, int b, int c);

// The header chunk of a non-interlaced image of this content.
PngChunk headerChunk(const PngContent& content);

// The IDAT chunks of a non-interlaced image of this content.
std::vector<PngChunk> imageDataChunks(const PngContent& content, const PngWriting& writing);

// An eXIf chunk's data: TIFF layout, one image directory at offset 8 with
// these entries, then `padding` zero bytes.
struct ExifEntry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
};
std::string exifData(const std::vector<ExifEntry>& entries, bool littleEndian = true, std::size_t padding = 0);

// What the reader made of a file: its pixels and flags, or its error.
struct PngOutcome {
    cv::Mat image;
    bool sixteenBitFile = false, coloursDiffer = false, fast = false, truncated = false;
    std::string message;
};
PngOutcome readPng(const std::string& path, bool keepSixteenBits = false, PngDecoder decoder = PngDecoder::Fastest);

// Writes the bytes to this process's test file and returns its path.
std::string pngFile(const std::string& bytes);
