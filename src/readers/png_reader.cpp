#include "readers/png_reader.h"

#include "readers/exif_orientation.h"
#include "readers/png_fast_decode.h"

#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// OpenCV's image reader refuses larger images before decoding them.
const std::uint64_t kMaxPixels = std::uint64_t(1) << 30;

// Weights of red and green in libpng's grey conversion, as OpenCV asks for
// them; blue gets the rest.
const double kRedWeight = 0.299;
const double kGreenWeight = 0.587;

// One file being decoded. libpng reports errors through onError, which
// records the message and jumps back to the setjmp of the step that
// failed; the steps keep no objects of their own that a jump would skip.
struct PngDecoding {
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_infop endInfo = nullptr;
    std::string error;
    std::string firstWarning;
    bool fileEnded = false;
    std::string dataProblem; // found by the reader itself, not by libpng
    std::uint64_t fileSize = 0, position = 0;
    std::uint32_t chunkLength = 0; // of the chunk whose header was read last
    std::uint64_t firstImageData = 0; // where the first IDAT chunk's header is
    bool chunkAfterImageData = false, pixelsRead = false, streamChecked = false;
    int fileBitDepth = 0, fileChannels = 0;
    std::vector<png_bytep> rows;

    PngDecoding() = default;
    PngDecoding(const PngDecoding&) = delete;
    PngDecoding& operator=(const PngDecoding&) = delete;
    ~PngDecoding()
    {
        png_destroy_read_struct(&png, &info, &endInfo);
        if (file != nullptr)
            std::fclose(file);
    }
};

void onError(png_structp png, png_const_charp message)
{
    static_cast<PngDecoding*>(png_get_error_ptr(png))->error = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp png, png_const_charp message)
{
    auto* decoding = static_cast<PngDecoding*>(png_get_error_ptr(png));
    if (decoding->firstWarning.empty())
        decoding->firstWarning = message;
}

std::uint32_t bigEndian(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

// The size of the image data inflated: the filtered rows, of each pass
// when interlaced.
std::uint64_t inflatedSize(const PngDecoding& d)
{
    const std::uint64_t width = png_get_image_width(d.png, d.info), height = png_get_image_height(d.png, d.info);
    const std::uint64_t bits = std::uint64_t(d.fileChannels) * d.fileBitDepth;
    const auto rows = [&](std::uint64_t w, std::uint64_t h) { return w == 0 ? 0 : h * ((w * bits + 7) / 8 + 1); };
    if (png_get_interlace_type(d.png, d.info) == PNG_INTERLACE_NONE)
        return rows(width, height);
    static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
    static const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    std::uint64_t size = 0;
    for (int p = 0; p < 7; ++p)
        size += rows(width > std::uint64_t(x0[p]) ? (width - x0[p] + dx[p] - 1) / dx[p] : 0,
                     height > std::uint64_t(y0[p]) ? (height - y0[p] + dy[p] - 1) / dy[p] : 0);
    return size;
}

// Whether the run of IDAT chunks holds one whole zlib stream, as zlib
// inflates it, of exactly the image's size and nothing after it.
bool imageDataIsOneStream(const PngDecoding& d)
{
    z_stream z{};
    if (inflateInit2(&z, 0) != Z_OK) // the window the stream's header asks for, as libpng
        return false;
    const int file = ::fileno(d.file);
    std::vector<unsigned char> in(1 << 16), out(1 << 16);
    std::uint64_t made = 0;
    bool ended = false, fine = true;
    unsigned char header[8];
    for (std::uint64_t at = d.firstImageData;
         fine && ::pread(file, header, 8, static_cast<off_t>(at)) == 8 && std::memcmp(header + 4, "IDAT", 4) == 0;) {
        std::uint64_t left = bigEndian(header);
        at += 8;
        fine = !ended || left == 0;
        while (fine && left > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, in.size()));
            if (::pread(file, in.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
                fine = false;
                break;
            }
            at += n, left -= n;
            z.next_in = in.data();
            z.avail_in = static_cast<uInt>(n);
            do {
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                const int status = inflate(&z, Z_NO_FLUSH);
                made += out.size() - z.avail_out;
                ended = status == Z_STREAM_END;
                fine = status == Z_OK || status == Z_BUF_ERROR || ended;
            } while (fine && !ended && (z.avail_in > 0 || z.avail_out == 0));
            fine = fine && (!ended || (z.avail_in == 0 && left == 0));
        }
        at += 4;
    }
    inflateEnd(&z);
    return fine && ended && made == inflatedSize(d);
}

// Also checks each chunk's length as its header is read: libpng would
// allocate (and zero) the whole claimed length of an ancillary chunk before
// finding that the file ends, and a chunk can never be longer than what is
// left of the file. Lengths libpng itself refuses are left to it.
void readBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* d = static_cast<PngDecoding*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, d->file) != length) {
        if (std::ferror(d->file))
            png_error(png, std::strerror(errno));
        d->fileEnded = true;
        png_error(png, "the file ends early");
    }
    d->position += length;
    if ((png_get_io_state(png) & PNG_IO_CHUNK_HDR) == 0 || length != 8)
        return;
    d->chunkLength = bigEndian(data);
    if (d->chunkLength <= PNG_UINT_31_MAX && d->chunkLength + std::uint64_t(4) > d->fileSize - d->position) {
        d->fileEnded = true;
        png_error(png, "the file ends early");
    }
    const bool imageData = std::memcmp(data + 4, "IDAT", 4) == 0;
    if (imageData && d->firstImageData == 0)
        d->firstImageData = d->position - 8;
    d->chunkAfterImageData |= !imageData && d->firstImageData != 0;
    // libpng skips image data that follows the end of its compressed
    // stream without a word; the data of such a file is damaged. But once
    // the rows are read, it looks no further than one more piece of data
    // for that end: the rest of a stream cut into small chunks comes here
    // too, and is read through once to tell the two apart.
    if (d->pixelsRead && d->chunkLength > 0 && imageData) {
        if (!d->streamChecked && !d->chunkAfterImageData)
            d->streamChecked = imageDataIsOneStream(*d);
        if (!d->streamChecked || d->chunkAfterImageData) {
            d->dataProblem = "an IDAT chunk follows the end of the image data";
            png_error(png, "extra IDAT");
        }
    }
}

[[noreturn]] void fail(const PngDecoding& decoding)
{
    if (decoding.fileEnded)
        throw PngError("the file ends before its PNG data does", true);
    if (!decoding.dataProblem.empty())
        throw PngError(decoding.dataProblem, false);
    std::string message = "libpng error: " + decoding.error;
    if (!decoding.firstWarning.empty())
        message += " (after: " + decoding.firstWarning + ")";
    throw PngError(message, false);
}

// Reads the header and the chunks before the image data.
bool readInfo(PngDecoding& d)
{
    if (setjmp(png_jmpbuf(d.png)))
        return false;
    png_read_info(d.png, d.info);
    d.fileBitDepth = png_get_bit_depth(d.png, d.info);
    d.fileChannels = png_get_channels(d.png, d.info);
    return true;
}

// Asks libpng for one channel: palette entries and samples of fewer than 8
// bits expanded, alpha dropped, colour weighted into grey, and 16-bit
// samples either cut to 8 bits or kept in host order. libpng allocates its
// row buffers here.
bool askForGrey(PngDecoding& d, bool keepSixteenBits)
{
    if (setjmp(png_jmpbuf(d.png)))
        return false;
    const int colourType = png_get_color_type(d.png, d.info);
    const int bitDepth = d.fileBitDepth;
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(d.png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0 && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(d.png);
    png_set_strip_alpha(d.png);
    if (bitDepth == 16 && !keepSixteenBits)
        png_set_strip_16(d.png);
    if (colourType & PNG_COLOR_MASK_COLOR)
        png_set_rgb_to_gray(d.png, PNG_ERROR_ACTION_NONE, kRedWeight, kGreenWeight);
    if (bitDepth == 16 && keepSixteenBits)
        png_set_swap(d.png);
    png_set_interlace_handling(d.png);
    png_read_update_info(d.png, d.info);
    return true;
}

// Whether the reader's own decoding gives libpng's pixels: colour weighed
// into grey with gamma information is left to libpng, which linearises it
// first.
bool decodableFast(const PngDecoding& d)
{
    const int colourType = png_get_color_type(d.png, d.info);
    return png_get_interlace_type(d.png, d.info) == PNG_INTERLACE_NONE && d.fileBitDepth >= 8 &&
           colourType != PNG_COLOR_TYPE_PALETTE &&
           ((colourType & PNG_COLOR_MASK_COLOR) == 0 ||
            png_get_valid(d.png, d.info, PNG_INFO_gAMA | PNG_INFO_sRGB | PNG_INFO_iCCP) == 0);
}

bool decodeFast(PngDecoding& d, bool keepSixteenBits, cv::Mat& image, bool& coloursDiffer)
{
    const PngImageData data{::fileno(d.file),
                            d.fileSize,
                            d.position,
                            d.chunkLength,
                            png_get_image_width(d.png, d.info),
                            png_get_image_height(d.png, d.info),
                            d.fileBitDepth,
                            png_get_color_type(d.png, d.info),
                            png_get_chunk_malloc_max(d.png)};
    return decodePngImageData(data, keepSixteenBits, image, coloursDiffer);
}

// Decodes the pixels, then reads the chunks after them up to the end, as
// OpenCV does: a file cut short after its pixels still fails.
bool readPixels(PngDecoding& d)
{
    if (setjmp(png_jmpbuf(d.png)))
        return false;
    // A failed check of the image data (the zlib stream's Adler-32, data
    // after its end) is only a warning to libpng, and OpenCV scores the
    // damaged pixels; a metric must not.
    png_set_benign_errors(d.png, 0);
    png_read_image(d.png, d.rows.data());
    png_set_benign_errors(d.png, 1);
    d.pixelsRead = true;
    png_read_end(d.png, d.endInfo);
    return true;
}

// The EXIF orientation from before the pixels, else from after them.
int orientationOf(const PngDecoding& d)
{
    png_uint_32 size = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(d.png, d.info, &size, &exif) == 0 && png_get_eXIf_1(d.png, d.endInfo, &size, &exif) == 0)
        return 1;
    return exifOrientation(exif, size);
}

void openDecoding(PngDecoding& d, const std::string& path)
{
    d.file = std::fopen(path.c_str(), "rb");
    if (d.file == nullptr)
        throw PngError(std::string("cannot be opened: ") + std::strerror(errno), false);
    if (std::fseek(d.file, 0, SEEK_END) == 0) {
        const long end = std::ftell(d.file);
        d.fileSize = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    std::rewind(d.file);
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, onError, onWarning);
    if (d.png != nullptr)
        d.info = png_create_info_struct(d.png);
    if (d.info != nullptr)
        d.endInfo = png_create_info_struct(d.png);
    if (d.endInfo == nullptr)
        throw std::bad_alloc();
    png_set_read_fn(d.png, &d, readBytes);
    // Nothing here uses text; skipped, their chunks cost nothing.
    static const png_byte textChunks[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(d.png, PNG_HANDLE_CHUNK_NEVER, textChunks, 3);
}

} // namespace

bool hasPngSignature(const unsigned char* bytes, std::size_t size)
{
    return size >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

bool isPngFile(const std::string& path)
{
    unsigned char head[8] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return hasPngSignature(head, got);
}

cv::Size pngImageSize(const std::string& path)
{
    PngDecoding d;
    try {
        openDecoding(d, path);
    } catch (const PngError&) {
        return {};
    }
    if (setjmp(png_jmpbuf(d.png)))
        return {};
    png_read_info(d.png, d.info);
    const int width = static_cast<int>(png_get_image_width(d.png, d.info));
    const int height = static_cast<int>(png_get_image_height(d.png, d.info));
    png_uint_32 size = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(d.png, d.info, &size, &exif) != 0)
        return exifOrientation(exif, size) >= 5 ? cv::Size(height, width) : cv::Size(width, height);
    // An eXIf chunk after the pixels would still count; look for one.
    for (std::uint64_t at = d.position + d.chunkLength + 4; at + 8 <= d.fileSize;) {
        unsigned char header[8];
        if (std::fseek(d.file, static_cast<long>(at), SEEK_SET) != 0 || std::fread(header, 1, 8, d.file) != 8)
            break;
        if (std::memcmp(header + 4, "eXIf", 4) == 0)
            return {};
        if (std::memcmp(header + 4, "IEND", 4) == 0)
            break;
        at += 12 + std::uint64_t(bigEndian(header));
    }
    return cv::Size(width, height);
}

cv::Mat readGreyPng(const std::string& path, bool keepSixteenBits, bool& sixteenBitFile, bool* coloursDiffer,
                    PngDecoder decoder, bool* decodedFast)
{
    PngDecoding d;
    openDecoding(d, path);
    if (!readInfo(d))
        fail(d);
    const png_uint_32 width = png_get_image_width(d.png, d.info);
    const png_uint_32 height = png_get_image_height(d.png, d.info);
    // Both sizes are checked before libpng allocates its rows, which for a
    // million pixels of 16-bit RGBA are two of 8 MB.
    if (std::uint64_t(width) * height > kMaxPixels)
        throw PngError("the image is " + std::to_string(width) + "x" + std::to_string(height) + ", more than the " +
                           std::to_string(kMaxPixels) + " pixels an image may have",
                       false);
    // Deflate packs at most 1032 bytes into one: a header that claims more
    // rows than the file can hold is found out before the image is allocated.
    const std::uint64_t rowBytes = (std::uint64_t(width) * d.fileChannels * d.fileBitDepth + 7) / 8 + 1;
    if (rowBytes * height > 1032 * d.fileSize)
        throw PngError("the image is " + std::to_string(width) + "x" + std::to_string(height) +
                           ", more than a file of " + std::to_string(d.fileSize) + " bytes can hold",
                       false);
    sixteenBitFile = d.fileBitDepth == 16;
    if (decodedFast != nullptr)
        *decodedFast = false;

    cv::Mat image;
    bool differ = false;
    if (decoder == PngDecoder::Fastest && decodableFast(d) && decodeFast(d, keepSixteenBits, image, differ)) {
        if (decodedFast != nullptr)
            *decodedFast = true;
    } else {
        // Declined: libpng reads on from the first IDAT chunk, and says what
        // is wrong if anything is.
        if (!askForGrey(d, keepSixteenBits))
            fail(d);
        image.create(static_cast<int>(height), static_cast<int>(width),
                     sixteenBitFile && keepSixteenBits ? CV_16U : CV_8U);
        d.rows.resize(height);
        for (png_uint_32 r = 0; r < height; ++r)
            d.rows[r] = image.ptr(static_cast<int>(r));
        if (!readPixels(d))
            fail(d);
        // libpng keeps a pixel whose three colours are equal as it is, and notes the others.
        differ = png_get_rgb_to_gray_status(d.png) != 0;
    }
    if (coloursDiffer != nullptr)
        *coloursDiffer = differ;
    return orientImage(image, orientationOf(d));
}
