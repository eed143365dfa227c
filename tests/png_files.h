#pragma once

// PNG files of every kind for tests, written with libpng, and their chunks
// taken apart and put together again to damage them.

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

struct PngContent {
    int width = 0, height = 0;
    int colourType = PNG_COLOR_TYPE_GRAY;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint16_t> samples; // rows of width * channels samples
    std::vector<png_color> palette;
    // Ancillary chunks, each written when set.
    std::vector<png_byte> paletteAlpha; // tRNS of a palette image
    bool transparentColour = false;     // tRNS of other images
    png_color_16 transparent{};
    double gamma = 0.0;
    bool srgb = false;
    bool chromaticities = false;
    bool background = false;
    png_color_16 backgroundColour{};
    bool significantBits = false;
    png_color_8 significant{};
};

int channelsOf(int colourType);

// Random samples, and for palette images a random palette, of the given kind.
PngContent randomPng(int width, int height, int colourType, int bitDepth, unsigned seed);

// The PNG file's bytes.
std::string encodePng(const PngContent& content);

struct PngChunk {
    std::string type;
    std::string data;
};

std::vector<PngChunk> pngChunks(const std::string& png);
// The signature and the chunks, each with its length and a correct CRC.
std::string joinPngChunks(const std::vector<PngChunk>& chunks);
// Puts `chunk` before the first chunk of type `before`.
std::string insertPngChunk(const std::string& png, const PngChunk& chunk, const std::string& before);

void writeBytes(const std::string& path, const std::string& bytes);
