#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <stdexcept>
#include <string>

// Whether bytes start with the signature that every PNG file starts with.
bool hasPngSignature(const unsigned char* bytes, std::size_t size);

// Whether the file starts as a PNG file does, whatever its name.
bool isPngFile(const std::string& path);

// A PNG file that cannot be decoded: the decoder's message, and whether the
// file ended before its PNG data did.
struct PngError : std::runtime_error {
    PngError(const std::string& message, bool cutShort) : std::runtime_error(message), truncated(cutShort) {}
    bool truncated;
};

// The size readGreyPng will give the image, from the file's header and EXIF
// orientation, without decoding the pixels; empty when it cannot be told so
// (not a PNG file, a damaged header, an eXIf chunk after the pixels).
cv::Size pngImageSize(const std::string& path);

// Decodes a PNG file into one channel, exactly as OpenCV's cv::imread does
// with IMREAD_GRAYSCALE (8 bits per sample) or, with keepSixteenBits, with
// IMREAD_GRAYSCALE | IMREAD_ANYDEPTH (16-bit files stay 16-bit): colour and
// palette images by libpng's weighted sum of red, green and blue, alpha and
// transparency dropped, fewer than 8 bits stretched to 0..255, 16-bit
// samples cut to their high byte, and the image turned upright by an EXIF
// orientation. sixteenBitFile tells whether the file has 16 bits per sample,
// coloursDiffer (when given) whether a pixel's red, green and blue differ.
// The files most images are saved as (8 or 16 bits, grey or colour, with or
// without alpha, not interlaced, colour without gamma information) have
// their image data decoded by the reader's own code, faster, the rest by
// libpng; `decoder` can ask for libpng alone, and `decodedFast` tells which
// it was. Both give the same pixels and refuse the same files with the same
// messages. Throws PngError.
enum class PngDecoder { Fastest, Libpng };
cv::Mat readGreyPng(const std::string& path, bool keepSixteenBits, bool& sixteenBitFile, bool* coloursDiffer = nullptr,
                    PngDecoder decoder = PngDecoder::Fastest, bool* decodedFast = nullptr);
