// The tool's PNG reader and writer against OpenCV's: every kind of PNG file
// decodes to the pixels that cv::imread gives with IMREAD_GRAYSCALE and with
// IMREAD_GRAYSCALE | IMREAD_ANYDEPTH, and damaged files fail where it fails.
#include "driver/exif_orientation.h"
#include "driver/png_reader.h"
#include "driver/png_writer.h"
#include "png_files.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <functional>
#include <random>

namespace {

// What a reader made of a file: its pixels, or empty when it failed.
struct Decoded {
    cv::Mat image;
    bool sixteenBitFile = false;
    std::string message;
    bool truncated = false;
};

Decoded readWithTool(const std::string& path, bool keepSixteenBits)
{
    Decoded d;
    try {
        d.image = readGreyPng(path, keepSixteenBits, d.sixteenBitFile);
    } catch (const PngError& e) {
        d.message = e.what();
        d.truncated = e.truncated;
    }
    return d;
}

cv::Mat readWithOpenCv(const std::string& path, bool keepSixteenBits)
{
    try {
        return cv::imread(path, keepSixteenBits ? cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH : cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    if (a.empty() || b.empty())
        return a.empty() == b.empty();
    return a.type() == b.type() && a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// Decodes the file with both readers and both sets of flags; true when they agree.
::testing::AssertionResult decodesAsOpenCv(const std::string& path)
{
    for (bool keep : {false, true}) {
        const Decoded tool = readWithTool(path, keep);
        const cv::Mat opencv = readWithOpenCv(path, keep);
        if (!sameImage(tool.image, opencv))
            return ::testing::AssertionFailure()
                   << (keep ? "IMREAD_ANYDEPTH" : "8-bit") << ": OpenCV gives "
                   << (opencv.empty() ? "nothing" : "an image") << ", the tool "
                   << (tool.image.empty() ? "nothing (" + tool.message + ")" : "other pixels");
        if (!tool.image.empty() && tool.sixteenBitFile != (readWithOpenCv(path, true).depth() == CV_16U))
            return ::testing::AssertionFailure() << "the tool's sixteenBitFile is wrong";
    }
    return ::testing::AssertionSuccess();
}

std::string tempFile(const std::string& name)
{
    static const std::string dir = makeTempDir("png_reader");
    return dir + "/" + name;
}

std::string writePngFile(const std::string& name, const std::string& bytes)
{
    const std::string path = tempFile(name);
    writeBytes(path, bytes);
    return path;
}

const struct {
    int colourType;
    int bitDepth;
} kKinds[] = {
    {PNG_COLOR_TYPE_GRAY, 1},        {PNG_COLOR_TYPE_GRAY, 2},      {PNG_COLOR_TYPE_GRAY, 4},
    {PNG_COLOR_TYPE_GRAY, 8},        {PNG_COLOR_TYPE_GRAY, 16},     {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
    {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_PALETTE, 1},   {PNG_COLOR_TYPE_PALETTE, 2},
    {PNG_COLOR_TYPE_PALETTE, 4},     {PNG_COLOR_TYPE_PALETTE, 8},   {PNG_COLOR_TYPE_RGB, 8},
    {PNG_COLOR_TYPE_RGB, 16},        {PNG_COLOR_TYPE_RGB_ALPHA, 8}, {PNG_COLOR_TYPE_RGB_ALPHA, 16},
};

// Ancillary chunks that could change the decoded pixels.
const std::pair<const char*, std::function<void(PngContent&)>> kChunkVariants[] = {
    {"plain", [](PngContent&) {}},
    {"gamma 0.45", [](PngContent& c) { c.gamma = 0.45455; }},
    {"gamma 2.2 with chromaticities",
     [](PngContent& c) {
         c.gamma = 2.2;
         c.chromaticities = true;
     }},
    {"sRGB", [](PngContent& c) { c.srgb = true; }},
    {"background",
     [](PngContent& c) {
         c.background = true;
         const png_uint_16 level = static_cast<png_uint_16>((1u << c.bitDepth) / 3);
         c.backgroundColour = {0, level, level, static_cast<png_uint_16>(level / 2), level};
     }},
    {"significant bits",
     [](PngContent& c) {
         c.significantBits = true;
         const png_byte bits = static_cast<png_byte>(c.colourType == PNG_COLOR_TYPE_PALETTE ? 5 : c.bitDepth / 2 + 1);
         c.significant = {bits, bits, bits, bits, bits};
     }},
    {"transparency with gamma",
     [](PngContent& c) {
         c.gamma = 0.5;
         if (c.colourType == PNG_COLOR_TYPE_PALETTE) {
             for (std::size_t k = 0; k < c.palette.size(); ++k)
                 c.paletteAlpha.push_back(static_cast<png_byte>(k * 37));
         } else if ((c.colourType & PNG_COLOR_MASK_ALPHA) == 0) {
             // The colour of the first pixel, so that some pixels have it.
             c.transparentColour = true;
             const int step = channelsOf(c.colourType) == 3 ? 1 : 0;
             c.transparent = {0, c.samples[0], c.samples[step], c.samples[2 * step], c.samples[0]};
         }
     }},
    {"grey palette",
     [](PngContent& c) {
         for (png_color& colour : c.palette)
             colour.green = colour.blue = colour.red;
         c.gamma = 0.45455;
     }},
};

} // namespace

TEST(PngReader, EveryKindOfPngDecodesAsOpenCvDoes)
{
    unsigned seed = 1;
    for (const auto& kind : kKinds)
        for (const auto& [variant, change] : kChunkVariants)
            for (const bool interlaced : {false, true}) {
                // Odd sizes, so that packed rows end inside a byte and every
                // interlace pass has its own width; 1x1 has empty passes.
                for (const cv::Size size : {cv::Size(37, 23), cv::Size(1, 1)}) {
                    PngContent content = randomPng(size.width, size.height, kind.colourType, kind.bitDepth, seed++);
                    content.interlaced = interlaced;
                    change(content);
                    SCOPED_TRACE("colour type " + std::to_string(kind.colourType) + ", " +
                                 std::to_string(kind.bitDepth) + " bits, " + variant +
                                 (interlaced ? ", interlaced " : " ") + std::to_string(size.width) + "x" +
                                 std::to_string(size.height));
                    EXPECT_TRUE(decodesAsOpenCv(writePngFile("kind.png", encodePng(content))));
                }
            }
}

TEST(PngReader, SixteenBitSamplesKeepTheirHighByte)
{
    PngContent content = randomPng(4, 1, PNG_COLOR_TYPE_GRAY, 16, 0);
    content.samples = {0x0000, 0x01ff, 0xfe80, 0xffff};
    const std::string path = writePngFile("deep.png", encodePng(content));
    const Decoded eight = readWithTool(path, false), sixteen = readWithTool(path, true);
    EXPECT_TRUE(eight.sixteenBitFile);
    EXPECT_EQ(eight.image.depth(), CV_8U);
    EXPECT_EQ(cv::countNonZero(eight.image != cv::Mat(cv::Matx<uchar, 1, 4>(0, 1, 254, 255))), 0) << eight.image;
    EXPECT_EQ(sixteen.image.at<uint16_t>(0, 2), 0xfe80);
}

namespace {

std::string littleEndian16(unsigned value)
{
    return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
}

std::string littleEndian32(unsigned value)
{
    return littleEndian16(value & 0xffff) + littleEndian16(value >> 16);
}

std::string directoryEntry(unsigned tag, unsigned type, unsigned count, unsigned value)
{
    return littleEndian16(tag) + littleEndian16(type) + littleEndian32(count) + littleEndian32(value);
}

// Little-endian EXIF data whose first directory, at offset 8, holds these entries.
std::string exifWith(const std::vector<std::string>& entries, unsigned next = 0)
{
    std::string exif = "II" + littleEndian16(42) + littleEndian32(8) + littleEndian16(entries.size());
    for (const std::string& entry : entries)
        exif += entry;
    return exif + littleEndian32(next);
}

int orientationOf(const std::string& exif)
{
    return exifOrientation(reinterpret_cast<const unsigned char*>(exif.data()), exif.size());
}

// A 4x3 ramp with the EXIF data before its pixels.
std::string rampWithExif(const std::string& exif, const std::string& before = "IDAT", int bitDepth = 8)
{
    PngContent content = randomPng(4, 3, PNG_COLOR_TYPE_GRAY, bitDepth, 0);
    for (int k = 0; k < 12; ++k)
        content.samples[k] = static_cast<std::uint16_t>(k * 20 << (bitDepth - 8));
    return insertPngChunk(encodePng(content), {"eXIf", exif}, before);
}

} // namespace

TEST(ExifOrientation, IsTheFirstWordOfTheFirstOrientationTagInTheFirstDirectory)
{
    const std::string orientation6 = directoryEntry(0x112, 3, 1, 6);
    const std::string bigEndian6("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const struct {
        const char* name;
        std::string exif;
        int expected;
    } cases[] = {
        {"little-endian", exifWith({orientation6}), 6},
        {"big-endian", bigEndian6, 6},
        {"after another tag", exifWith({directoryEntry(0x100, 3, 1, 4), orientation6}), 6},
        {"first of two", exifWith({orientation6, directoryEntry(0x112, 3, 1, 3)}), 6},
        {"type and count ignored", exifWith({directoryEntry(0x112, 4, 0, 6 | 5 << 16)}), 6},
        {"big-endian long: first word 0",
         "MM" + bigEndian6.substr(2, 10) + std::string("\0\x04\0\0\0\x01\0\0\0\x06\0\0\0\0", 14), 1},
        {"value 0", exifWith({directoryEntry(0x112, 3, 1, 0)}), 1},
        {"value 9", exifWith({directoryEntry(0x112, 3, 1, 9)}), 1},
        {"value 262", exifWith({directoryEntry(0x112, 3, 1, 262)}), 1},
        {"no orientation", exifWith({directoryEntry(0x100, 3, 1, 4)}), 1},
        {"more entries counted than present", exifWith({orientation6}).replace(8, 2, littleEndian16(5)), 6},
        {"cut after the value", exifWith({orientation6}).substr(0, 20), 6},
        {"cut inside the value", exifWith({orientation6}).substr(0, 19), 1},
        {"not 42", exifWith({orientation6}).replace(2, 2, littleEndian16(43)), 1},
        {"directory past the end", exifWith({orientation6}).replace(4, 4, littleEndian32(400)), 1},
        {"only in the second directory",
         exifWith({directoryEntry(0x100, 3, 1, 4)}, 26) + littleEndian16(1) + orientation6 + littleEndian32(0), 1},
        {"only in the EXIF directory",
         exifWith({directoryEntry(0x8769, 4, 1, 26)}) + littleEndian16(1) + orientation6 + littleEndian32(0), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(orientationOf(c.exif), c.expected);
        // The same data in a PNG file turns OpenCV's image the same way.
        EXPECT_TRUE(decodesAsOpenCv(writePngFile("exif.png", rampWithExif(c.exif))));
    }
}

TEST(PngReader, ExifOrientationTurnsTheImageAsOpenCvDoes)
{
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (const char* before : {"IDAT", "IEND"})
            for (int bitDepth : {8, 16}) {
                SCOPED_TRACE("orientation " + std::to_string(orientation) + " before " + before + ", " +
                             std::to_string(bitDepth) + " bits");
                const std::string exif = exifWith({directoryEntry(0x112, 3, 1, orientation)});
                EXPECT_TRUE(decodesAsOpenCv(writePngFile("turned.png", rampWithExif(exif, before, bitDepth))));
            }

    // Orientation 6 asks for a quarter turn clockwise: the first column, read
    // upwards, becomes the first row.
    bool deep = false;
    const cv::Mat turned =
        readGreyPng(writePngFile("six.png", rampWithExif(exifWith({directoryEntry(0x112, 3, 1, 6)}))), false, deep);
    ASSERT_EQ(turned.size(), cv::Size(3, 4));
    EXPECT_EQ(turned.at<uchar>(0, 0), 160);
    EXPECT_EQ(turned.at<uchar>(0, 2), 0);
    EXPECT_EQ(turned.at<uchar>(3, 0), 220);

    // Data before the pixels wins over data after them, even without the tag.
    const std::string bothPlaces = insertPngChunk(rampWithExif(exifWith({directoryEntry(0x100, 3, 1, 4)})),
                                                  {"eXIf", exifWith({directoryEntry(0x112, 3, 1, 3)})}, "IEND");
    const cv::Mat upright = readGreyPng(writePngFile("both.png", bothPlaces), false, deep);
    EXPECT_EQ(upright.at<uchar>(0, 1), 20);
    EXPECT_TRUE(decodesAsOpenCv(writePngFile("both.png", bothPlaces)));
}

namespace {

// A small colour file with ancillary chunks before and after its pixels,
// whose pixels span two IDAT chunks.
std::string fileWithManyChunks()
{
    PngContent content = randomPng(19, 11, PNG_COLOR_TYPE_RGB, 8, 7);
    content.gamma = 0.45455;
    std::vector<PngChunk> chunks = pngChunks(encodePng(content));
    for (std::size_t k = 0; k < chunks.size(); ++k)
        if (chunks[k].type == "IDAT") {
            const std::string data = chunks[k].data;
            chunks[k].data = data.substr(0, data.size() / 2);
            chunks.insert(chunks.begin() + k + 1, {"IDAT", data.substr(data.size() / 2)});
            chunks.insert(chunks.begin() + k + 2, {"tEXt", std::string("Comment\0after", 13)});
            break;
        }
    return joinPngChunks(chunks);
}

} // namespace

TEST(PngReader, DamagedFilesFailWhereOpenCvFails)
{
    const std::string png = fileWithManyChunks();
    for (std::size_t size = 0; size < png.size(); ++size) {
        SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
        const std::string path = writePngFile("cut.png", png.substr(0, size));
        ASSERT_TRUE(decodesAsOpenCv(path));
        const Decoded d = readWithTool(path, false);
        EXPECT_TRUE(d.image.empty());
        EXPECT_TRUE(d.truncated) << d.message;
    }

    // Flipped bits with the CRC made right again, chunks lost, repeated,
    // out of order or unknown.
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<PngChunk> chunks = pngChunks(png);
        const std::size_t k = random() % chunks.size();
        std::string damage;
        switch (trial % 5) {
        case 0:
            if (!chunks[k].data.empty())
                chunks[k].data[random() % chunks[k].data.size()] ^= static_cast<char>(1 << random() % 8);
            damage = "bit flipped in ";
            break;
        case 1:
            chunks.erase(chunks.begin() + k);
            damage = "lost ";
            break;
        case 2:
            chunks.insert(chunks.begin() + k, chunks[k]);
            damage = "repeated ";
            break;
        case 3:
            std::swap(chunks[k], chunks[random() % chunks.size()]);
            damage = "moved ";
            break;
        default:
            chunks.insert(chunks.begin() + k, {random() % 2 ? "ABCD" : "abcd", "xyz"});
            damage = "unknown chunk before ";
        }
        SCOPED_TRACE(damage + (k < chunks.size() ? chunks[k].type : std::string()));
        EXPECT_TRUE(decodesAsOpenCv(writePngFile("damaged.png", joinPngChunks(chunks))));
    }
}

TEST(PngReader, MessagesSayWhatIsWrong)
{
    const std::string png = fileWithManyChunks();
    const Decoded cut = readWithTool(writePngFile("cut.png", png.substr(0, png.size() - 20)), false);
    EXPECT_TRUE(cut.truncated);
    EXPECT_EQ(cut.message, "the file ends before its PNG data does");

    std::string flipped = png;
    flipped[30] ^= 1; // in the CRC of the header chunk
    const Decoded crc = readWithTool(writePngFile("crc.png", flipped), false);
    EXPECT_FALSE(crc.truncated);
    EXPECT_EQ(crc.message, "libpng error: IHDR: CRC error");

    // libpng warns about the width before it fails on the header.
    std::vector<PngChunk> chunks = pngChunks(png);
    chunks[0].data.replace(0, 4, std::string("\0\x0f\x42\x41", 4)); // 1000001 wide
    const Decoded wide = readWithTool(writePngFile("wide.png", joinPngChunks(chunks)), false);
    EXPECT_EQ(wide.message, "libpng error: Invalid IHDR data (after: Image width exceeds user limit in IHDR)");

    // OpenCV refuses more than 2^30 pixels before it decodes them.
    chunks[0].data.replace(0, 8, std::string("\0\0\x9c\x40\0\0\x75\x30", 8)); // 40000x30000
    const std::string huge = writePngFile("huge.png", joinPngChunks(chunks));
    EXPECT_THROW(cv::imread(huge, cv::IMREAD_GRAYSCALE), cv::Exception);
    EXPECT_EQ(readWithTool(huge, false).message,
              "the image is 40000x30000, more than the 1073741824 pixels an image may have");

    EXPECT_FALSE(hasPngSignature(reinterpret_cast<const unsigned char*>(png.data()), 7));
    EXPECT_TRUE(hasPngSignature(reinterpret_cast<const unsigned char*>(png.data()), 8));
}

TEST(PngWriter, WritesTheBytesOpenCvWrites)
{
    cv::Mat grey(31, 17, CV_8U), colour(31, 17, CV_8UC3), ramp(40, 300, CV_8UC3);
    cv::randu(grey, 0, 256);
    cv::randu(colour, 0, 256);
    for (int c = 0; c < ramp.cols; ++c)
        ramp.col(c).setTo(cv::Scalar(c % 256, c / 2, 255 - c % 256));
    for (const cv::Mat& image : {grey, colour, ramp}) {
        const std::string path = tempFile("written.png"), opencvPath = tempFile("opencv.png");
        ASSERT_TRUE(writePng(path, image));
        ASSERT_TRUE(cv::imwrite(opencvPath, image));
        EXPECT_EQ(readFile(path), readFile(opencvPath));
        const cv::Mat back = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_EQ(back.type(), image.type());
        EXPECT_EQ(cv::norm(back, image, cv::NORM_INF), 0.0);
    }
    EXPECT_FALSE(writePng(tempFile("no/such/dir.png"), grey));
    EXPECT_FALSE(writePng(tempFile("float.png"), cv::Mat(3, 3, CV_32F, 0.5)));
}
