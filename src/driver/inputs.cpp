#include "driver/inputs.h"

#include "core/image_size.h"
#include "driver/camera.h"
#include "driver/plugin_loader.h"
#include "driver/png_reader.h"
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

// Whether the file starts as a PNG file does, whatever its name.
bool startsAsPng(const std::string& path)
{
    unsigned char head[8] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(head), sizeof head);
    return hasPngSignature(head, static_cast<std::size_t>(file.gcount()));
}

[[noreturn]] void failColourDepth(const std::string& path, int index)
{
    failInput(path, index,
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
cv::Mat decodePng(const std::string& path, int index, bool& deeperThan8Bits)
{
    try {
        bool coloursDiffer = false;
        cv::Mat image = readGreyPng(path, false, deeperThan8Bits, &coloursDiffer);
        if (coloursDiffer && index >= kDepthLeftA)
            failColourDepth(path, index);
        return image;
    } catch (const PngError& e) {
        if (e.truncated)
            failInput(path, index, std::string("is truncated: ") + e.what());
        failInput(path, index, std::string("is a PNG file that cannot be decoded: ") + e.what());
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
cv::Mat decodeWithPlugin(const std::string& path, int index, bool keepDepth, bool keepChannels = false)
{
    ReadImageFunction readImage = nullptr;
    try {
        readImage = reinterpret_cast<ReadImageFunction>(pluginFunction(kImageCodecsPlugin, kReadImageSymbol));
    } catch (const PluginError& e) {
        failInput(path, index,
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
        failInput(path, index,
             "is not an image that can be decoded (unknown format, truncated or corrupt)" +
                 (said.empty() ? std::string() : ": " + decoderSummary(said)));
    if (said.find("Premature end") != std::string::npos || said.find("premature end") != std::string::npos)
        failInput(path, index, "is truncated: " + decoderSummary(said));
    return image;
}

// Runs task(0) .. task(count - 1) on up to `count` threads, as many as
// there are cores; task must not throw.
template <typename Task>
void runConcurrently(int count, const Task& task)
{
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < count; i = next++)
            task(i);
    };
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    for (int t = 1; t < std::min(std::max(cores, 1), count); ++t) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break; // fewer threads do the same work
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace

void failInput(const std::string& path, int index, const std::string& problem)
{
    throw InputError(path + " (" + inputRole(index) + "): " + problem);
}

void failWithPath(const morvex::Error& error, const InputPaths& paths)
{
    const int index = static_cast<int>(error.input());
    if (index < kInputCount)
        failInput(paths[index], index, error.problem());
    throw InputError(error.what());
}

void checkReadableFile(const std::string& path, int index)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        failInput(path, index, "no such file");
    if (std::filesystem::is_directory(status))
        failInput(path, index, "is a directory, not a file");
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        failInput(path, index, std::string("cannot be opened: ") + std::strerror(errno));
}

std::mutex& standardErrorLock()
{
    static std::mutex lock;
    return lock;
}

const char* inputRole(int index)
{
    return morvex::inputRole(static_cast<morvex::Input>(index));
}

morvex::Camera loadCameraFile(const std::string& path)
{
    checkReadableFile(path, kCameraFile);
    const int numbersRead = readCameraParameters(path);
    if (numbersRead < 0)
        failInput(path, kCameraFile, "cannot be opened");
    if (numbersRead < 9)
        failInput(path, kCameraFile,
                  morvex::cameraCountProblem("only " + std::to_string(numbersRead) + " could be read"));
    const morvex::Camera camera = cameraFromGlobals();
    const std::string problem = camera.problem();
    if (!problem.empty())
        failInput(path, kCameraFile, problem);
    return camera;
}

cv::Mat loadGreyImage(const std::string& path, int index, bool& deeperThan8Bits)
{
    checkReadableFile(path, index);
    if (startsAsPng(path))
        return decodePng(path, index, deeperThan8Bits);
    // Reading at the file's own depth first tells whether it has more than
    // 8 bits per sample (and, for a depth map, whether its colours differ);
    // only such files are read a second time, as 8-bit grey.
    const bool depthMap = index >= kDepthLeftA && index <= kDepthRightB;
    cv::Mat image = decodeWithPlugin(path, index, true, depthMap);
    if (image.channels() >= 3 && !coloursEqual(image))
        failColourDepth(path, index);
    deeperThan8Bits = image.depth() != CV_8U;
    if (deeperThan8Bits || image.channels() > 1)
        image = decodeWithPlugin(path, index, false);
    return image;
}

std::string deepSamplesWarning(const std::string& path, int index, bool allBelow256)
{
    const std::string name = "morvex: warning: " + path + " (" + inputRole(index) + ") has more than 8 bits per sample";
    if (!allBelow256)
        return name + "; only the high 8 bits are used";
    return name + ", but every value is below 256: the high 8 bits, which are used, are 0 everywhere (the far "
                  "depth); save an 8-bit map as an 8-bit image, or scale a deeper one to the full range";
}

void checkImageSize(const cv::Mat& image, int index, const cv::Size& leftSize, const std::string& path)
{
    const std::string problem = morvex::imageSizeProblem(image.size(), leftSize);
    if (!problem.empty())
        failInput(path, index, problem);
}

PairImages loadPairImages(const InputPaths& paths, std::ostream& warnings)
{
    struct Loaded {
        cv::Mat image;
        bool deeper = false;
        std::exception_ptr error;
    };
    // The sizes in the PNG headers are checked first, so that a mismatch
    // costs no decoding; only as long as every earlier input's size is known
    // that way, so that of several bad inputs the first is still named.
    cv::Size leftSize;
    for (int i = 0; i < 6; ++i) {
        std::error_code ec;
        const cv::Size size = std::filesystem::is_regular_file(paths[i], ec) && startsAsPng(paths[i])
                                  ? pngImageSize(paths[i])
                                  : cv::Size();
        if (size.empty())
            break;
        if (i == 0)
            leftSize = size;
        const std::string problem = morvex::imageSizeProblem(size, leftSize);
        if (!problem.empty())
            failInput(paths[i], i, problem);
    }

    std::array<Loaded, 6> loaded;
    runConcurrently(6, [&](int i) {
        try {
            loaded[i].image = loadGreyImage(paths[i], i, loaded[i].deeper);
        } catch (...) {
            loaded[i].error = std::current_exception();
        }
    });

    // Checked in command-line order, so that of several bad inputs the first
    // is named, as when they are read one by one.
    PairImages images;
    cv::Mat* const targets[] = {&images.viewLeft,   &images.viewRight,  &images.depthLeftA,
                                &images.depthRightA, &images.depthLeftB, &images.depthRightB};
    bool warned = false;
    for (int i = 0; i < 6; ++i) {
        if (loaded[i].error)
            std::rethrow_exception(loaded[i].error);
        const bool deeper = loaded[i].deeper;
        *targets[i] = loaded[i].image;
        checkImageSize(*targets[i], i, images.viewLeft.size(), paths[i]);
        if (deeper && !warned) {
            warnings << deepSamplesWarning(paths[i], i, cv::countNonZero(*targets[i]) == 0) << std::endl;
            warned = true;
        }
    }
    return images;
}
