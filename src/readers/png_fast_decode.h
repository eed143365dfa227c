#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

// A PNG file whose header and chunks before the image data libpng has read,
// as far as the header of the first IDAT chunk.
struct PngImageData {
    int file;                    // descriptor, read with pread: the libpng path keeps its place
    std::uint64_t fileSize;
    std::uint64_t firstData;     // where the first IDAT chunk's data starts
    std::uint32_t firstLength;   // and its length
    std::uint32_t width, height;
    int bitDepth, colourType;    // 8 or 16; grey, grey and alpha, RGB or RGBA
    std::uint64_t chunkLimit;    // the longest ancillary chunk libpng reads (0: no limit)
};

// Decodes the image data as readGreyPng's libpng path would, to the same
// pixels, without libpng: the IDAT chunks checked (CRC, lengths) and
// inflated whole by libdeflate (Adler-32 checked), the row filters
// reversed, then the grey conversion, alpha dropped and 16-bit samples cut
// to their high byte or kept in host order, as libpng does them. Then the
// chunks after the image data up to IEND. Declines (returns false) on any
// file that libpng might read otherwise: damaged data, extra data, an
// unusual chunk after the image data, a window that zlib would refuse; the
// libpng path then reads it and says why. The sizes must have been checked.
bool decodePngImageData(const PngImageData& data, bool keepSixteenBits, cv::Mat& image, bool& coloursDiffer);
