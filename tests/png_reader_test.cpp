// The tool's PNG reader against OpenCV's: every kind of PNG file, written
// here with libpng, decodes to the pixels cv::imread gives with
// IMREAD_GRAYSCALE and with IMREAD_GRAYSCALE | IMREAD_ANYDEPTH, damaged files
// fail where it fails, and the messages say why.
#include "readers/png_reader.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <png.h>
#include <zlib.h>

#include <sys/resource.h>

#include <random>

namespace {

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
    // The rows in the file's layout: samples big-endian, or packed into bytes.
    const int samples = c.width * kChannelsOf[c.colourType];
    std::vector<std::vector<png_byte>> rows(c.height, std::vector<png_byte>((samples * c.bitDepth + 7) / 8));
    std::vector<png_bytep> rowPointers;
    for (int r = 0; r < c.height; ++r) {
        for (int k = 0; k < samples; ++k) {
            const unsigned sample = c.samples[std::size_t(r) * samples + k], bit = k * c.bitDepth;
            if (c.bitDepth == 16)
                rows[r][2 * k] = png_byte(sample >> 8), rows[r][2 * k + 1] = png_byte(sample);
            else
                rows[r][bit / 8] |= png_byte(sample << (8 - c.bitDepth - bit % 8));
        }
        rowPointers.push_back(rows[r].data());
    }
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

struct PngChunk {
    std::string type, data;
};

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

// The signature and the chunks, each with its length and a correct CRC.
std::string joinPngChunks(const std::vector<PngChunk>& chunks)
{
    const auto bigEndian = [](uLong v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    std::string png("\x89PNG\r\n\x1a\n", 8);
    for (const PngChunk& chunk : chunks) {
        const std::string typed = chunk.type + chunk.data;
        png += bigEndian(chunk.data.size()) + typed +
               bigEndian(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
    }
    return png;
}

// What the tool's reader made of a file: its pixels, or its error.
struct Decoded {
    cv::Mat image;
    bool sixteenBitFile = false, truncated = false;
    std::string message;
};

Decoded readWithTool(const std::string& path, bool keepSixteenBits = false)
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

std::string pngFile(const std::string& bytes)
{
    static const std::string path = makeTempDir("png_reader") + "/test.png";
    writeFile(path, bytes);
    return path;
}

// Both readers decode the bytes with both sets of flags to the same pixels, or both fail.
::testing::AssertionResult decodesAsOpenCv(const std::string& bytes)
{
    const std::string path = pngFile(bytes);
    for (const int flags : {0, cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH}) {
        const Decoded tool = readWithTool(path, flags != 0);
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
        const Decoded d = readWithTool(pngFile(png.substr(0, size)));
        EXPECT_TRUE(d.image.empty() && d.truncated) << "cut to " << size << " bytes: " << d.message;
        EXPECT_EQ(d.message, size < 8 ? d.message : "the file ends before its PNG data does") << size;
    }

    // A bad CRC, through the tool: BadInput.Images.
    // libpng warns about the width before it fails on the header.
    chunks[0].data.replace(0, 4, std::string("\0\x0f\x42\x41", 4)); // 1000001 wide
    EXPECT_EQ(readWithTool(pngFile(joinPngChunks(chunks))).message,
              "libpng error: Invalid IHDR data (after: Image width exceeds user limit in IHDR)");
    // OpenCV refuses more than 2^30 pixels before it decodes them.
    chunks[0].data.replace(0, 8, std::string("\0\0\x9c\x40\0\0\x75\x30", 8)); // 40000x30000
    EXPECT_TRUE(decodesAsOpenCv(joinPngChunks(chunks)));
    EXPECT_EQ(readWithTool(pngFile(joinPngChunks(chunks))).message,
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
        EXPECT_EQ(readWithTool(pngFile(joinPngChunks(damaged))).message, message);
    chunks[0].data.replace(0, 8, std::string("\0\0\x75\x30\0\0\x75\x30", 8)); // 30000x30000
    const std::string huge = joinPngChunks(chunks);
    EXPECT_EQ(readWithTool(pngFile(huge)).message,
              "the image is 30000x30000, more than a file of " + std::to_string(huge.size()) + " bytes can hold");

    // 43 bytes, 8x8 with a text chunk that claims 2 GiB: libpng allocated and zeroed it all before the file ended.
    chunks[0].data.replace(0, 8, std::string("\0\0\0\x08\0\0\0\x08", 8));
    for (const char* text : {"tEXt", "zTXt", "iTXt"}) {
        const std::string bytes = joinPngChunks({chunks[0]}) + "\x7f\xff\xff\xff" + text + "ab";
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const Decoded d = readWithTool(pngFile(bytes));
        getrusage(RUSAGE_SELF, &after);
        EXPECT_TRUE(bytes.size() == 43 && d.truncated) << text;
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 50 * 1024) << text << ": kilobytes more at the peak";
    }
}
