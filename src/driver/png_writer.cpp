#include "driver/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

namespace {

// One file being written; libpng's errors jump back to writeRows.
struct PngWriting {
    std::FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;

    PngWriting() = default;
    PngWriting(const PngWriting&) = delete;
    PngWriting& operator=(const PngWriting&) = delete;
    ~PngWriting()
    {
        png_destroy_write_struct(&png, &info);
        if (file != nullptr)
            std::fclose(file);
    }
};

void onError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

bool writeRows(PngWriting& w, int width, int height, int colourType)
{
    if (setjmp(png_jmpbuf(w.png)))
        return false;
    png_init_io(w.png, w.file);
    // cv::imwrite's settings, so that the maps are the same bytes as when
    // OpenCV wrote them: fastest level, run-length matches, every row
    // filtered by its left neighbour.
    png_set_compression_level(w.png, 1);
    png_set_compression_strategy(w.png, Z_RLE);
    png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(w.png, w.info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    if (colourType == PNG_COLOR_TYPE_RGB)
        png_set_bgr(w.png);
    png_write_image(w.png, w.rows.data());
    png_write_end(w.png, nullptr);
    return true;
}

} // namespace

bool writePng(const std::string& path, const cv::Mat& image)
{
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3) || image.empty())
        return false;
    PngWriting w;
    w.file = std::fopen(path.c_str(), "wb");
    if (w.file == nullptr)
        return false;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (w.png != nullptr)
        w.info = png_create_info_struct(w.png);
    if (w.info == nullptr)
        return false;
    for (int r = 0; r < image.rows; ++r)
        w.rows.push_back(const_cast<png_bytep>(image.ptr(r)));
    if (!writeRows(w, image.cols, image.rows, image.channels() == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB))
        return false;
    const bool closed = std::fclose(w.file) == 0;
    w.file = nullptr;
    return closed;
}
