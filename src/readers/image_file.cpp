#include "readers/image_file.h"

#include "readers/plugin_loader.h"
#include "readers/png_reader.h"
#include "plugins/plugin_api.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// The first line of a decoder's messages, without the image library's
// wrapping: it reports its own decoders' exceptions as "imread_(...): can't
// read data: OpenCV(...) file:line: error: (-2:...) WHAT in function ...".
std::string decoderSummary(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    line.erase(std::find_if(line.begin(), line.end(), [](unsigned char ch) { return std::iscntrl(ch); }),
               line.end());
    const std::size_t code = line.find("error: (");
    const std::size_t what = code == std::string::npos ? code : line.find(") ", code);
    if (what != std::string::npos)
        line = line.substr(what + 2, line.find(" in function ", what) - (what + 2));
    return line;
}

bool isDepthMap(morvex::Input input)
{
    return input >= morvex::Input::DepthLeftA && input <= morvex::Input::DepthRightB;
}

[[noreturn]] void failColourDepth(const std::string& path, morvex::Input input)
{
    failInput(path, input,
              "is a colour image whose red, green and blue differ (a colour-mapped picture?); a depth map must be "
              "grey: one channel, or three or four whose colours are equal in every pixel");
}

// Whether the first three channels are equal in every pixel.
bool coloursEqual(const cv::Mat& image)
{
    std::vector<cv::Mat> planes;
    cv::split(image, planes);
    return cv::countNonZero(planes[0] != planes[1]) == 0 && cv::countNonZero(planes[0] != planes[2]) == 0;
}

// PNG files, the usual inputs, are decoded here; 16-bit ones are read once,
// already cut to 8 bits.
cv::Mat decodePng(const std::string& path, morvex::Input input, bool& deeperThan8Bits)
{
    try {
        bool coloursDiffer = false;
        cv::Mat image = readGreyPng(path, false, deeperThan8Bits, &coloursDiffer);
        if (coloursDiffer && isDepthMap(input))
            failColourDepth(path, input);
        return image;
    } catch (const PngError& e) {
        if (e.truncated)
            failInput(path, input, std::string("is truncated: ") + e.what());
        failInput(path, input, std::string("is a PNG file that cannot be decoded: ") + e.what());
    }
}

// Other formats are decoded by OpenCV's image codecs in a plugin, loaded
// when the first such file comes. Those decoders print their complaints
// straight to the standard error ("Premature end of JPEG file"). While a
// file is decoded they are diverted into a temporary file, so that an error
// stays one line and can quote the decoder. A JPEG decoder only warns about
// a truncated file, so this is also how truncation is told apart there;
// other warnings of a decoded image (an odd colour profile, say) are
// dropped. The standard error is one per process, so threads decode such
// files in turn.
cv::Mat decodeWithPlugin(const std::string& path, morvex::Input input, bool keepDepth, bool keepChannels = false)
{
    ReadImageFunction readImage = nullptr;
    try {
        readImage = reinterpret_cast<ReadImageFunction>(pluginFunction(kImageCodecsPlugin, kReadImageSymbol));
    } catch (const PluginError& e) {
        failInput(path, input,
                  std::string("is not a PNG file, and the plugin that reads other image formats cannot be loaded: ") +
                      e.what());
    }

    std::unique_lock<std::mutex> hold(standardErrorLock());
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    const int saved = capture != nullptr ? ::dup(STDERR_FILENO) : -1;
    const bool diverted = saved >= 0 && ::dup2(::fileno(capture), STDERR_FILENO) >= 0;
    cv::Mat image;
    std::string said;
    readImage(path.c_str(), keepDepth, keepChannels, &image, &said); // leaves image empty when it fails
    if (diverted) {
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
    }
    if (saved >= 0)
        ::close(saved);
    if (capture != nullptr) {
        std::rewind(capture);
        std::string text(4096, '\0');
        text.resize(std::fread(&text[0], 1, text.size(), capture));
        std::fclose(capture);
        if (!text.empty())
            said = text;
    }
    hold.unlock();

    if (image.empty())
        failInput(path, input,
             "is not an image that can be decoded (unknown format, truncated or corrupt)" +
                 (said.empty() ? std::string() : ": " + decoderSummary(said)));
    if (said.find("Premature end") != std::string::npos || said.find("premature end") != std::string::npos)
        failInput(path, input, "is truncated: " + decoderSummary(said));
    return image;
}

} // namespace

std::mutex& standardErrorLock()
{
    static std::mutex lock;
    return lock;
}

cv::Mat loadGreyImage(const std::string& path, morvex::Input input, bool& deeperThan8Bits)
{
    checkReadableFile(path, input);
    if (isPngFile(path))
        return decodePng(path, input, deeperThan8Bits);
    // Reading at the file's own depth first tells whether it has more than
    // 8 bits per sample (and, for a depth map, whether its colours differ);
    // only such files are read a second time, as 8-bit grey.
    const bool depthMap = isDepthMap(input);
    cv::Mat image = decodeWithPlugin(path, input, true, depthMap);
    if (image.channels() >= 3 && !coloursEqual(image))
        failColourDepth(path, input);
    deeperThan8Bits = image.depth() != CV_8U;
    if (deeperThan8Bits || image.channels() > 1)
        image = decodeWithPlugin(path, input, false);
    return image;
}

std::string deepSamplesWarning(const std::string& path, morvex::Input input, bool allBelow256)
{
    const std::string name = path + " (" + morvex::inputRole(input) + ") has more than 8 bits per sample";
    if (!allBelow256)
        return name + "; only the high 8 bits are used";
    return name + ", but every value is below 256: the high 8 bits, which are used, are 0 everywhere (the far "
                  "depth); save an 8-bit map as an 8-bit image, or scale a deeper one to the full range";
}

