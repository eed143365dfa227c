#include "readers/exif_orientation.h"

#include <cstdint>

namespace {

const std::uint32_t kOrientationTag = 0x0112;
const std::size_t kEntrySize = 12; // tag, type, count, value

// The tags OpenCV's reader decodes besides the orientation: text, whose
// count of bytes lies within the value field up to 4 and at the value
// offset beyond, and rationals at the value offset (how many of them).
bool isTextTag(std::uint32_t tag)
{
    return tag == 0x010e || tag == 0x010f || tag == 0x0110 || tag == 0x0131 || tag == 0x0132 || tag == 0x8298;
}

int rationalsOf(std::uint32_t tag)
{
    switch (tag) {
    case 0x011a: // x resolution
    case 0x011b: // y resolution
        return 1;
    case 0x013e: // white point
        return 2;
    case 0x0211: // YCbCr coefficients
        return 3;
    case 0x013f: // primary chromaticities
    case 0x0214: // reference black and white
        return 6;
    default:
        return 0;
    }
}

class TiffBytes {
public:
    TiffBytes(const unsigned char* data, std::size_t size, bool littleEndian)
        : data_(data), size_(size), littleEndian_(littleEndian)
    {
    }

    bool has(std::uint64_t offset, std::uint64_t length) const { return offset + length <= size_; }

    std::uint32_t word(std::uint64_t offset) const
    {
        const std::uint32_t a = data_[offset], b = data_[offset + 1];
        return littleEndian_ ? a | b << 8 : a << 8 | b;
    }

    std::uint32_t longWord(std::uint64_t offset) const
    {
        const std::uint32_t a = word(offset), b = word(offset + 2);
        return littleEndian_ ? a | b << 16 : a << 16 | b;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    bool littleEndian_;
};

} // namespace

int exifOrientation(const unsigned char* data, std::size_t size)
{
    if (size < 8 || data[0] != data[1] || (data[0] != 'I' && data[0] != 'M'))
        return 1;
    const TiffBytes tiff(data, size, data[0] == 'I');
    if (tiff.word(2) != 42)
        return 1;
    const std::uint64_t directory = tiff.longWord(4);
    if (!tiff.has(directory, 2))
        return 1;
    const std::uint32_t entries = tiff.word(directory);
    for (std::uint32_t k = 0; k < entries; ++k) {
        const std::uint64_t entry = directory + 2 + kEntrySize * k;
        if (!tiff.has(entry, 2))
            return 1;
        const std::uint32_t tag = tiff.word(entry);
        // OpenCV stops at the first of these whose value lies outside the
        // data, and keeps only the tags before it.
        if (isTextTag(tag) && tiff.has(entry + 4, 8)) {
            const std::uint64_t length = tiff.longWord(entry + 4);
            if (!tiff.has(length <= 4 ? 8 : tiff.longWord(entry + 8), length))
                return 1;
        }
        if (rationalsOf(tag) > 0 && tiff.has(entry + 8, 4) && !tiff.has(tiff.longWord(entry + 8), 8 * rationalsOf(tag)))
            return 1;
        if (tag != kOrientationTag)
            continue;
        if (!tiff.has(entry + 8, 2))
            return 1;
        const std::uint32_t value = tiff.word(entry + 8);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

cv::Mat orientImage(const cv::Mat& image, int orientation)
{
    // Orientations 5 to 8 swap rows and columns first; then 2 to 8 mirror.
    cv::Mat source = image;
    if (orientation >= 5 && orientation <= 8)
        cv::transpose(image, source);
    int flipCode;
    switch (orientation) {
    case 2: // mirrored left to right
    case 6: // needs a quarter turn clockwise
        flipCode = 1;
        break;
    case 3: // upside down
    case 7: // mirrored along the anti-diagonal
        flipCode = -1;
        break;
    case 4: // mirrored top to bottom
    case 8: // needs a quarter turn anticlockwise
        flipCode = 0;
        break;
    default: // upright, or mirrored along the main diagonal (5)
        return source;
    }
    cv::Mat turned;
    cv::flip(source, turned, flipCode);
    return turned;
}
