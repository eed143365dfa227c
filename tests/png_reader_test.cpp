// The tool's PNG reader against cv::imread with IMREAD_GRAYSCALE, with and
// without IMREAD_ANYDEPTH: the same pixels, the same files refused.
#include "png_files.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <sys/resource.h>

#include <fstream>
#include <random>

namespace {

// Both readers decode the bytes with both sets of flags to the same pixels, or both fail.
::testing::AssertionResult decodesAsOpenCv(const std::string& bytes)
{
    const std::string path = pngFile(bytes);
    for (const int flags : {0, cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH}) {
        const PngOutcome tool = readPng(path, flags != 0);
        cv::Mat opencv;
        try {
            opencv = cv::imread(path, flags);
        } catch (const cv::Exception&) {
        }
        if (tool.image.empty() || opencv.empty()
                ? tool.image.empty() != opencv.empty()
                : tool.image.type() != opencv.type() || tool.image.size() != opencv.size() ||
                      cv::norm(tool.image, opencv, cv::NORM_INF) != 0.0)
            return ::testing::AssertionFailure()
                   << "flags " << flags << ": OpenCV gives " << (opencv.empty() ? "nothing" : "an image")
                   << ", the tool " << (tool.image.empty() ? "nothing (" + tool.message + ")" : "other");
        if (!opencv.empty() && tool.sixteenBitFile != (cv::imread(path, cv::IMREAD_ANYDEPTH).depth() == CV_16U))
            return ::testing::AssertionFailure() << "the tool's sixteenBitFile is wrong";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(PngReader, EveryKindOfPngDecodesAsOpenCvDoes)
{
    const int kinds[][2] = {
        {PNG_COLOR_TYPE_GRAY, 1},        {PNG_COLOR_TYPE_GRAY, 2},      {PNG_COLOR_TYPE_GRAY, 4},
        {PNG_COLOR_TYPE_GRAY, 8},        {PNG_COLOR_TYPE_GRAY, 16},     {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_PALETTE, 1},   {PNG_COLOR_TYPE_PALETTE, 2},
        {PNG_COLOR_TYPE_PALETTE, 4},     {PNG_COLOR_TYPE_PALETTE, 8},   {PNG_COLOR_TYPE_RGB, 8},
        {PNG_COLOR_TYPE_RGB, 16},        {PNG_COLOR_TYPE_RGB_ALPHA, 8}, {PNG_COLOR_TYPE_RGB_ALPHA, 16}};
    unsigned seed = 1;
    for (const auto& [colourType, bitDepth] : kinds)
        for (const bool transparent : {false, true})
            // Odd sizes, so that packed rows end inside a byte and every
            // interlace pass has its own width; 1x1 has empty passes.
            for (const cv::Size size : {cv::Size(37, 23), cv::Size(1, 1)})
                for (const bool interlaced : {false, true}) {
                    PngContent content = randomPng(size.width, size.height, colourType, bitDepth, seed++);
                    content.interlaced = interlaced;
                    content.transparent = transparent;
                    content.gamma = transparent ? 0.5 : 0.0;
                    EXPECT_TRUE(decodesAsOpenCv(encodePng(content)))
                        << "colour type " << colourType << ", " << bitDepth << " bits, "
                        << (transparent ? "transparency and gamma" : "plain") << (interlaced ? ", interlaced " : " ")
                        << size;
                }
}

TEST(PngReader, DamagedFilesFailWhereOpenCvFailsAndSayWhy)
{
    // A small colour file with chunks before and after its pixels, which span two IDAT chunks.
    PngContent content = randomPng(19, 11, PNG_COLOR_TYPE_RGB, 8, 7);
    content.gamma = 0.45455;
    std::vector<PngChunk> chunks = pngChunks(encodePng(content));
    ASSERT_EQ(chunks[2].type, "IDAT");
    const std::string data = chunks[2].data;
    chunks[2].data = data.substr(0, data.size() / 2);
    chunks.insert(chunks.begin() + 3, {{"IDAT", data.substr(data.size() / 2)}, {"tEXt", std::string("Comment\0x", 9)}});
    const std::string png = joinPngChunks(chunks);
    for (std::size_t size = 0; size < png.size(); ++size) {
        ASSERT_TRUE(decodesAsOpenCv(png.substr(0, size))) << "cut to " << size << " bytes";
        const PngOutcome d = readPng(pngFile(png.substr(0, size)));
        EXPECT_TRUE(d.image.empty() && d.truncated) << "cut to " << size << " bytes: " << d.message;
        EXPECT_EQ(d.message, size < 8 ? d.message : "the file ends before its PNG data does") << size;
    }

    // libpng warns about the width before it fails on the header.
    chunks[0].data.replace(0, 4, std::string("\0\x0f\x42\x41", 4)); // 1000001 wide
    EXPECT_EQ(readPng(pngFile(joinPngChunks(chunks))).message,
              "libpng error: Invalid IHDR data (after: Image width exceeds user limit in IHDR)");
    // OpenCV refuses more than 2^30 pixels before it decodes them.
    chunks[0].data.replace(0, 8, std::string("\0\0\x9c\x40\0\0\x75\x30", 8)); // 40000x30000
    EXPECT_TRUE(decodesAsOpenCv(joinPngChunks(chunks)));
    EXPECT_EQ(readPng(pngFile(joinPngChunks(chunks))).message,
              "the image is 40000x30000, more than the 1073741824 pixels an image may have");
}

TEST(PngReader, FailedDataChecksAndLyingLengthsFailAndCostLittleMemory)
{
    std::vector<PngChunk> chunks = pngChunks(encodePng(randomPng(20, 20, PNG_COLOR_TYPE_GRAY, 8, 3)));
    ASSERT_EQ(chunks.size(), 3u);
    const PngChunk ihdr = chunks[0], idat = chunks[1], iend = chunks[2];
    // The Adler-32 of the image data in an IDAT of its own, which libpng checks only after the rows.
    std::string check = idat.data.substr(idat.data.size() - 4);
    check[3] ^= 1;
    const std::pair<std::vector<PngChunk>, std::string> cases[] = {
        {{ihdr, {"IDAT", idat.data.substr(0, idat.data.size() - 4)}, {"IDAT", check}, iend},
         "libpng error: IDAT: incorrect data check"},
        {{ihdr, idat, idat, iend}, "an IDAT chunk follows the end of the image data"}};
    for (const auto& [damaged, message] : cases)
        EXPECT_EQ(readPng(pngFile(joinPngChunks(damaged))).message, message);

    // 43 bytes, 8x8 with a text chunk that claims 2 GiB: libpng allocated and zeroed it all before the file ended.
    chunks[0].data.replace(0, 8, std::string("\0\0\0\x08\0\0\0\x08", 8));
    for (const char* text : {"tEXt", "zTXt", "iTXt"}) {
        const std::string bytes = joinPngChunks({chunks[0]}) + "\x7f\xff\xff\xff" + text + "ab";
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const PngOutcome d = readPng(pngFile(bytes));
        getrusage(RUSAGE_SELF, &after);
        EXPECT_TRUE(bytes.size() == 43 && d.truncated) << text;
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 50 * 1024) << text << ": kilobytes more at the peak";
    }
}

namespace {

long statusKilobytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

} // namespace

TEST(PngReader, HeadersThatClaimTooMuchFailBeforeLibpngAllocatesRows)
{
    // Writing 5 to clear_refs makes the peak resident memory (VmHWM) start again from the current.
    const bool measured = std::ofstream("/proc/self/clear_refs") && statusKilobytes("VmHWM") >= 0;
    // 69 bytes: a million pixels of 16-bit RGBA per row, whose rows libpng allocated (8 MB each, one zeroed)
    // before the sizes were checked.
    const std::pair<std::string, std::string> headers[] = {
        {std::string("\0\x0f\x42\x40\0\0\0\x01", 8), "the image is 1000000x1, more than a file of 69 bytes can hold"},
        {std::string("\0\x0f\x42\x40\0\x0f\x42\x40", 8),
         "the image is 1000000x1000000, more than the 1073741824 pixels an image may have"}};
    for (const auto& [size, message] : headers) {
        const std::string bytes = joinPngChunks(
            {{"IHDR", size + std::string("\x10\x06\0\0\0", 5)}, {"IDAT", std::string(12, '\x55')}, {"IEND", ""}});
        const std::string path = pngFile(bytes);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = statusKilobytes("VmRSS");
        const PngOutcome d = readPng(path);
        const long peak = statusKilobytes("VmHWM");
        EXPECT_EQ(bytes.size(), 69u);
        EXPECT_EQ(d.message, message);
        EXPECT_TRUE(!measured || peak - before < 2048)
            << message << ": " << peak - before << " kilobytes more at the peak";
    }
    if (!measured)
        GTEST_SKIP() << "no resettable peak of resident memory here";

    // 100 KB of damaged image data under a header that claims 100 MB of rows, which the file could hold.
    std::mt19937 random(5);
    std::string data(100000, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    data.replace(0, 2, "\x78\x9c");
    const std::string damaged = joinPngChunks(
        {{"IHDR", std::string("\0\0\x27\x10\0\0\x27\x10\x08\0\0\0\0", 13)}, {"IDAT", data}, {"IEND", ""}});
    const std::string path = pngFile(damaged);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKilobytes("VmRSS");
    EXPECT_NE(readPng(path).message, "");
    // Half of what was claimed: AddressSanitizer's shadow of the allocations alone takes an eighth of them.
    EXPECT_LT(statusKilobytes("VmHWM") - before, 50 * 1024) << "kilobytes more at the peak";
}

TEST(PngReader, ExifOrientationIsTakenAsOpenCvTakesIt)
{
    const PngContent content = randomPng(8, 12, PNG_COLOR_TYPE_GRAY, 8, 5);
    const std::vector<PngChunk> plain = pngChunks(encodePng(content));
    ASSERT_EQ(plain.size(), 3u);
    const ExifEntry turned{0x0112, 3, 1, 6};
    const std::size_t padding = 48, size = 8 + 2 + 2 * 12 + 4 + padding; // with two entries

    struct Case {
        std::string what;
        std::vector<ExifEntry> entries;
        bool littleEndian = true;
    };
    std::vector<Case> cases;
    for (std::uint32_t value = 0; value <= 9; ++value)
        cases.push_back({"orientation " + std::to_string(value), {{0x0112, 3, 1, value}}});
    // OpenCV's reader stops at a text or rational value outside the data,
    // and keeps the tags before it.
    const auto beforeAndAfter = [&](const std::string& what, const ExifEntry& entry) {
        cases.push_back({what + " before the orientation", {entry, turned}});
        cases.push_back({what + " after the orientation", {turned, entry}});
    };
    for (const std::uint16_t tag : {0x010e, 0x010f, 0x0110, 0x0131, 0x0132, 0x8298}) {
        const std::string name = "text tag " + std::to_string(tag);
        beforeAndAfter(name + " of 3 bytes in its field", {tag, 2, 3, 0});
        beforeAndAfter(name + " ending the data", {tag, 2, 20, std::uint32_t(size - 20)});
        beforeAndAfter(name + " a byte beyond the data", {tag, 2, 20, std::uint32_t(size - 19)});
        beforeAndAfter(name + " far beyond the data", {tag, 2, 100, 0xffffff00u});
        beforeAndAfter(name + " whose end wraps around 32 bits", {tag, 2, 0xfffffff0u, 20});
    }
    const std::pair<std::uint16_t, std::uint32_t> rationalTags[] = {{0x011a, 1}, {0x011b, 1}, {0x013e, 2},
                                                                    {0x0211, 3}, {0x013f, 6}, {0x0214, 6}};
    for (const auto& [tag, rationals] : rationalTags) {
        const std::string name = "rational tag " + std::to_string(tag);
        beforeAndAfter(name + " ending the data", {tag, 5, 1, std::uint32_t(size - 8 * rationals)});
        beforeAndAfter(name + " a byte beyond the data", {tag, 5, 1, std::uint32_t(size - 8 * rationals + 1)});
    }
    beforeAndAfter("an unknown tag far beyond the data", {0x9000, 2, 100, 0xffffff00u});
    beforeAndAfter("a 16-bit tag", {0x0128, 3, 1, 2});
    cases.push_back({"the fuzzer's mirrored case", {{0x0132, 2, 20, 0xffff}, {0x0112, 3, 1, 4}}});
    cases.push_back({"big-endian", {{0x013f, 5, 1, std::uint32_t(size - 47)}, turned}, false});
    cases.push_back({"big-endian, in bounds", {{0x013f, 5, 1, std::uint32_t(size - 48)}, turned}, false});

    for (const Case& c : cases)
        for (const bool beforePixels : {true, false}) {
            std::vector<PngChunk> chunks = plain;
            const std::size_t pad = c.entries.size() == 2 ? padding : padding + 12;
            chunks.insert(chunks.begin() + (beforePixels ? 1 : 2), {"eXIf", exifData(c.entries, c.littleEndian, pad)});
            const std::string bytes = joinPngChunks(chunks);
            EXPECT_TRUE(decodesAsOpenCv(bytes)) << c.what << (beforePixels ? "" : ", after the pixels");
            EXPECT_EQ(pngImageSize(pngFile(bytes)), beforePixels ? readPng(pngFile(bytes)).image.size() : cv::Size())
                << c.what;
        }
}
