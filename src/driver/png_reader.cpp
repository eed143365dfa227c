#include "driver/png_reader.h"

#include "driver/exif_orientation.h"

#include <png.h>

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
    int fileBitDepth = 0;
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

void readBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* decoding = static_cast<PngDecoding*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, decoding->file) == length)
        return;
    if (std::ferror(decoding->file))
        png_error(png, std::strerror(errno));
    decoding->fileEnded = true;
    png_error(png, "the file ends early");
}

[[noreturn]] void fail(const PngDecoding& decoding)
{
    if (decoding.fileEnded)
        throw PngError("the file ends before its PNG data does", true);
    std::string message = "libpng error: " + decoding.error;
    if (!decoding.firstWarning.empty())
        message += " (after: " + decoding.firstWarning + ")";
    throw PngError(message, false);
}

// Reads the header and asks libpng for one channel: palette entries and
// samples of fewer than 8 bits expanded, alpha dropped, colour weighted into
// grey, and 16-bit samples either cut to 8 bits or kept in host order.
bool readHeader(PngDecoding& d, bool keepSixteenBits)
{
    if (setjmp(png_jmpbuf(d.png)))
        return false;
    png_read_info(d.png, d.info);
    const int colourType = png_get_color_type(d.png, d.info);
    const int bitDepth = png_get_bit_depth(d.png, d.info);
    d.fileBitDepth = bitDepth;
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

// Decodes the pixels, then reads the chunks after them up to the end, as
// OpenCV does: a file cut short after its pixels still fails.
bool readPixels(PngDecoding& d)
{
    if (setjmp(png_jmpbuf(d.png)))
        return false;
    png_read_image(d.png, d.rows.data());
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

} // namespace

bool hasPngSignature(const unsigned char* bytes, std::size_t size)
{
    return size >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

cv::Mat readGreyPng(const std::string& path, bool keepSixteenBits, bool& sixteenBitFile, bool* coloursDiffer)
{
    PngDecoding d;
    d.file = std::fopen(path.c_str(), "rb");
    if (d.file == nullptr)
        throw PngError(std::string("cannot be opened: ") + std::strerror(errno), false);
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, onError, onWarning);
    if (d.png != nullptr)
        d.info = png_create_info_struct(d.png);
    if (d.info != nullptr)
        d.endInfo = png_create_info_struct(d.png);
    if (d.endInfo == nullptr)
        throw std::bad_alloc();
    png_set_read_fn(d.png, &d, readBytes);

    if (!readHeader(d, keepSixteenBits))
        fail(d);
    const png_uint_32 width = png_get_image_width(d.png, d.info);
    const png_uint_32 height = png_get_image_height(d.png, d.info);
    if (std::uint64_t(width) * height > kMaxPixels)
        throw PngError("the image is " + std::to_string(width) + "x" + std::to_string(height) + ", more than the " +
                           std::to_string(kMaxPixels) + " pixels an image may have",
                       false);
    sixteenBitFile = d.fileBitDepth == 16;
    cv::Mat image(static_cast<int>(height), static_cast<int>(width),
                  sixteenBitFile && keepSixteenBits ? CV_16U : CV_8U);
    d.rows.resize(height);
    for (png_uint_32 r = 0; r < height; ++r)
        d.rows[r] = image.ptr(static_cast<int>(r));
    if (!readPixels(d))
        fail(d);
    // libpng keeps a pixel whose three colours are equal as it is, and notes the others.
    if (coloursDiffer != nullptr)
        *coloursDiffer = png_get_rgb_to_gray_status(d.png) != 0;
    return orientImage(image, orientationOf(d));
}
