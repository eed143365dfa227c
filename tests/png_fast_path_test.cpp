// The PNG reader's own decoding against its libpng path: the same pixels,
// flags and refusals; the row filters' vector code against one byte at a time.
#include "png_files.h"
#include "readers/png_row_filters.h"

#include <gtest/gtest.h>
#include <hwy/highway.h>
#include <hwy/targets.h>

#include <random>

namespace {

enum class Expect { Fast, Libpng, Either };

// Both decoders give the same pixels, flags and refusals, at both depths;
// the fast one decoded the file when it should.
::testing::AssertionResult decodersAgree(const std::string& bytes, Expect expect)
{
    const std::string path = pngFile(bytes);
    for (const bool keep : {false, true}) {
        const PngOutcome fast = readPng(path, keep), slow = readPng(path, keep, PngDecoder::Libpng);
        const std::string depth = keep ? "16-bit kept: " : "";
        if (fast.message != slow.message || fast.truncated != slow.truncated)
            return ::testing::AssertionFailure()
                   << depth << "fast says [" << fast.message << "], libpng [" << slow.message << "]";
        if (!slow.image.empty() &&
            (fast.image.type() != slow.image.type() || fast.image.size() != slow.image.size() ||
             cv::norm(fast.image, slow.image, cv::NORM_INF) != 0.0 || !fast.image.isContinuous()))
            return ::testing::AssertionFailure() << depth << "other pixels";
        if (fast.sixteenBitFile != slow.sixteenBitFile || fast.coloursDiffer != slow.coloursDiffer)
            return ::testing::AssertionFailure() << depth << "other flags";
        if (expect != Expect::Either && fast.fast != (expect == Expect::Fast))
            return ::testing::AssertionFailure() << depth << (fast.fast ? "decoded fast" : "not decoded fast");
    }
    return ::testing::AssertionSuccess();
}

// Content whose colours are equal in every pixel: grey saved as colour.
PngContent greyAsColour(PngContent content)
{
    const int channels = kChannelsOf[content.colourType];
    for (std::size_t p = 0; p + channels <= content.samples.size(); p += channels)
        content.samples[p + 1] = content.samples[p + 2] = content.samples[p];
    return content;
}

std::string fileOf(const PngContent& content, const PngWriting& writing, const std::vector<PngChunk>& before = {},
                   const std::vector<PngChunk>& after = {})
{
    std::vector<PngChunk> chunks{headerChunk(content)};
    chunks.insert(chunks.end(), before.begin(), before.end());
    for (const PngChunk& idat : imageDataChunks(content, writing))
        chunks.push_back(idat);
    chunks.insert(chunks.end(), after.begin(), after.end());
    chunks.push_back({"IEND", ""});
    return joinPngChunks(chunks);
}

const int kFastKinds[][2] = {{PNG_COLOR_TYPE_GRAY, 8},      {PNG_COLOR_TYPE_GRAY, 16}, {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
                             {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_RGB, 8},  {PNG_COLOR_TYPE_RGB, 16},
                             {PNG_COLOR_TYPE_RGB_ALPHA, 8},   {PNG_COLOR_TYPE_RGB_ALPHA, 16}};

std::string kindName(int colourType, int bitDepth)
{
    return "colour type " + std::to_string(colourType) + ", " + std::to_string(bitDepth) + " bits";
}

} // namespace

TEST(PngFastPath, EveryFilterLevelAndChunkingDecodesAsLibpng)
{
    const std::vector<std::vector<int>> filterChoices = {{0}, {1}, {2}, {3}, {4}, {0, 1, 2, 3, 4}, {4, 2, 3, 1}};
    const cv::Size sizes[] = {{1, 1}, {37, 23}, {16, 5}, {1, 9}, {101, 3}};
    unsigned seed = 1;
    int level = 0;
    for (const auto& [colourType, bitDepth] : kFastKinds)
        for (const cv::Size size : sizes)
            for (const std::vector<int>& filters : filterChoices) {
                PngContent content = randomPng(size.width, size.height, colourType, bitDepth, seed++);
                if (seed % 3 == 0 && (colourType & PNG_COLOR_MASK_COLOR))
                    content = greyAsColour(content);
                PngWriting writing;
                writing.filters = filters;
                writing.level = level++ % 10;
                writing.chunkBytes = seed % 4 == 0 ? 1 : seed % 4 == 1 ? 7 : 1 << 20;
                EXPECT_TRUE(decodersAgree(fileOf(content, writing), Expect::Fast))
                    << kindName(colourType, bitDepth) << ", " << size << ", level " << writing.level << ", chunks of "
                    << writing.chunkBytes << ", first filter " << filters[0];
            }
}

TEST(PngFastPath, FilesLibpngWritesDecodeAsLibpng)
{
    // libpng chooses the filter of each row itself; transparency and gamma
    // information change nothing for grey, and colour with gamma is libpng's.
    unsigned seed = 100;
    for (const auto& [colourType, bitDepth] : kFastKinds)
        for (const bool transparent : {false, true})
            for (const double gamma : {0.0, 0.45455}) {
                PngContent content = randomPng(61, 17, colourType, bitDepth, seed++);
                content.transparent = transparent;
                content.gamma = gamma;
                const bool colour = colourType & PNG_COLOR_MASK_COLOR;
                EXPECT_TRUE(decodersAgree(encodePng(content), gamma > 0 && colour ? Expect::Libpng : Expect::Fast))
                    << kindName(colourType, bitDepth) << (transparent ? ", tRNS" : "") << (gamma > 0 ? ", gAMA" : "");
            }
    // The kinds the fast path leaves to libpng.
    const int others[][2] = {{PNG_COLOR_TYPE_GRAY, 1}, {PNG_COLOR_TYPE_GRAY, 4}, {PNG_COLOR_TYPE_PALETTE, 8}};
    for (const auto& [colourType, bitDepth] : others)
        EXPECT_TRUE(decodersAgree(encodePng(randomPng(13, 7, colourType, bitDepth, seed++)), Expect::Libpng));
    PngContent interlaced = randomPng(13, 7, PNG_COLOR_TYPE_GRAY, 8, seed++);
    interlaced.interlaced = true;
    EXPECT_TRUE(decodersAgree(encodePng(interlaced), Expect::Libpng));
    const PngContent colour = randomPng(13, 7, PNG_COLOR_TYPE_RGB, 8, seed++);
    EXPECT_TRUE(decodersAgree(fileOf(colour, {}, {{"sRGB", std::string(1, '\0')}}), Expect::Libpng));
    // A profile libpng drops as damaged leaves no gamma either.
    EXPECT_TRUE(decodersAgree(fileOf(colour, {}, {{"iCCP", std::string("x\0\0", 3)}}), Expect::Fast));
}

TEST(PngFastPath, ChunksAroundTheImageDataDecodeAsLibpng)
{
    const PngContent content = randomPng(19, 11, PNG_COLOR_TYPE_RGB, 8, 7);
    const PngChunk text{"tEXt", std::string("Comment\0x", 9)}, time{"tIME", std::string("\x07\xea\x0c\x07\x0f\x1e\0", 7)};
    const PngChunk exif{"eXIf", exifData({{0x0112, 3, 1, 6}})};
    struct Case {
        std::string what;
        std::vector<PngChunk> before, after;
        Expect expect;
    };
    const Case cases[] = {
        {"text and time before and after", {text, time, {"pHYs", std::string(9, '\x01')}}, {text, time}, Expect::Fast},
        {"an unknown ancillary chunk after", {}, {{"prVt", "private"}}, Expect::Fast},
        {"an empty IDAT after the last", {}, {{"IDAT", ""}}, Expect::Fast},
        {"an orientation before", {exif}, {}, Expect::Fast},
        {"an orientation after", {}, {exif}, Expect::Libpng},
        {"pHYs after", {}, {{"pHYs", std::string(9, '\x01')}}, Expect::Libpng},
        {"an unknown critical chunk after", {}, {{"CRIT", "x"}}, Expect::Libpng},
        {"an IDAT after a text chunk", {}, {text, {"IDAT", ""}}, Expect::Libpng},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(decodersAgree(fileOf(content, {}, c.before, c.after), c.expect)) << c.what;

    // An ancillary chunk's bad CRC is only a warning to libpng; an IDAT chunk's is an error.
    for (const char* type : {"tEXt", "IDAT"}) {
        std::string bytes = fileOf(content, {}, {}, {{type, std::string("a\0b", 3)}});
        const std::size_t data = bytes.rfind(std::string(type) + "a") + 4;
        bytes[data + 3] = static_cast<char>(bytes[data + 3] ^ 1);
        EXPECT_TRUE(decodersAgree(bytes, type[0] == 't' ? Expect::Fast : Expect::Libpng)) << type << " with a bad CRC";
    }
}

TEST(PngFastPath, DamagedFilesAreRefusedAsLibpngRefusesThem)
{
    const PngContent content = randomPng(19, 11, PNG_COLOR_TYPE_RGB_ALPHA, 8, 9);
    PngWriting writing;
    writing.chunkBytes = 200;
    const std::string png = fileOf(content, writing, {}, {{"tEXt", std::string("Comment\0x", 9)}});
    const std::vector<PngChunk> chunks = pngChunks(png);
    ASSERT_TRUE(decodersAgree(png, Expect::Fast));

    // Cut short anywhere, and every byte with a bit flipped.
    for (std::size_t size = 0; size < png.size(); ++size)
        EXPECT_TRUE(decodersAgree(png.substr(0, size), Expect::Either)) << "cut to " << size;
    for (std::size_t at = 0; at < png.size(); ++at) {
        std::string damaged = png;
        damaged[at] = static_cast<char>(damaged[at] ^ (1 << at % 8));
        EXPECT_TRUE(decodersAgree(damaged, Expect::Either)) << "bit " << at % 8 << " of byte " << at << " flipped";
    }

    // Streams that libdeflate would take and zlib would not, or that do not end with the rows.
    const auto restream = [&](const std::string& stream) {
        return joinPngChunks({chunks[0], {"IDAT", stream}, {"IEND", ""}});
    };
    std::string stream;
    for (std::size_t k = 1; k + 2 < chunks.size(); ++k)
        stream += chunks[k].data;
    const std::string deflated = stream.substr(2, stream.size() - 6), adler = stream.substr(stream.size() - 4);
    const auto withHeader = [&](unsigned char cmf) {
        unsigned char flg = 0;
        while ((cmf * 256 + flg) % 31 != 0)
            ++flg;
        return restream(std::string{char(cmf), char(flg)} + deflated + adler);
    };
    EXPECT_TRUE(decodersAgree(withHeader(0x78), Expect::Fast));
    EXPECT_TRUE(decodersAgree(withHeader(0x18), Expect::Either)) << "a 512-byte window, data of 847 bytes";
    EXPECT_TRUE(decodersAgree(withHeader(0x88), Expect::Libpng)) << "a window beyond 32 KiB";
    EXPECT_TRUE(decodersAgree(restream(stream + "x"), Expect::Libpng)) << "data after the stream";
    EXPECT_TRUE(decodersAgree(restream(stream.substr(0, stream.size() - 1)), Expect::Libpng)) << "cut stream";

    // Rows of another size than the header's, and a filter beyond Paeth.
    PngContent taller = content;
    taller.height += 1;
    taller.samples.resize(taller.samples.size() + 19 * 4, 7);
    std::vector<PngChunk> tooMany = pngChunks(fileOf(taller, writing)), tooFew = chunks;
    tooMany[0] = chunks[0];
    tooFew[0] = headerChunk(taller);
    EXPECT_TRUE(decodersAgree(joinPngChunks(tooMany), Expect::Libpng)) << "a row too many";
    EXPECT_TRUE(decodersAgree(joinPngChunks(tooFew), Expect::Libpng)) << "a row too few";
    writing.filters = {0, 5};
    EXPECT_TRUE(decodersAgree(fileOf(content, writing), Expect::Libpng)) << "filter 5";
    EXPECT_TRUE(decodersAgree(fileOf(content, {}, {}, {{"IEND", "x"}}), Expect::Libpng)) << "IEND with data";
}

namespace {

// PNG's row filters as the format defines them, one byte at a time.
void reversePngFilterOneByOne(int filter, int pixelBytes, const std::uint8_t* in, std::uint8_t* out,
                              const std::uint8_t* prior, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        const bool left = i >= std::size_t(pixelBytes);
        out[i] = static_cast<std::uint8_t>(
            in[i] + pngPrediction(filter, left ? out[i - pixelBytes] : 0, prior[i], left ? prior[i - pixelBytes] : 0));
    }
}

} // namespace

TEST(PngFastPath, RowFiltersAreReversedAsOneByteAtATime)
{
    std::mt19937 random(3);
    std::vector<std::uint8_t> filtered(1100 + 64), prior(1100), expected(1100), got(1100 + 64);
    for (std::uint8_t& b : filtered)
        b = static_cast<std::uint8_t>(random());
    for (std::uint8_t& b : prior)
        b = static_cast<std::uint8_t>(random());
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    EXPECT_GE(targets.size(), 2u);
    for (const int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        for (const int pixelBytes : {1, 2, 3, 4, 6, 8})
            for (int filter = 0; filter <= 4; ++filter)
                for (const std::size_t length : {0, 1, 5, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 1023, 1100})
                    // Reversed into a copy, in place, and moved a few bytes towards the start.
                    for (const std::size_t moved : {std::size_t(0), std::size_t(1), std::size_t(3), std::size_t(40)}) {
                        reversePngFilterOneByOne(filter, pixelBytes, filtered.data(), expected.data(), prior.data(),
                                                 length);
                        std::copy(filtered.begin(), filtered.begin() + length, got.begin() + moved);
                        reversePngFilter(filter, pixelBytes, got.data() + moved, got.data(), prior.data(), length);
                        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + length, got.begin()))
                            << hwy::TargetName(target) << ", filter " << filter << ", " << pixelBytes
                            << " bytes a pixel, " << length << " bytes, moved by " << moved;
                    }
    }
    hwy::SetSupportedTargetsForTest(0);
}
