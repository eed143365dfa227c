// The PNG reader with its EXIF orientation: both depths, the header-only
// size, and the EXIF parser on the raw bytes.
#include "readers/exif_orientation.h"
#include "readers/png_reader.h"
#include "fuzz_input.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    exifOrientation(data, size);
    const std::string path = writeInput(data, size, "input.png");
    const cv::Size header = pngImageSize(path);
    for (const bool keepSixteenBits : {false, true}) {
        bool sixteenBitFile = false;
        try {
            const cv::Mat image = readGreyPng(path, keepSixteenBits, sixteenBitFile);
            // The size told from the header is the decoded one.
            if (!header.empty() && header != image.size())
                std::abort();
        } catch (const PngError&) {
        }
    }
    return 0;
}
