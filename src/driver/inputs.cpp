#include "driver/inputs.h"

#include "driver/camera.h"
#include "driver/settings.h"

#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

const char* const kRoles[kInputCount] = {
    "left view",
    "right view",
    "depth map of the left view, set A",
    "depth map of the right view, set A",
    "depth map of the left view, set B",
    "depth map of the right view, set B",
    "camera file",
};


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

// Image decoders print their complaints straight to the standard error
// ("libpng error: Read Error", "Premature end of JPEG file"). While a file is
// decoded they are diverted into a temporary file, so that an error stays one
// line and can quote the decoder. A JPEG decoder only warns about a truncated
// file, so this is also how truncation is told apart there; other warnings of
// a decoded image (an odd colour profile, say) are dropped. The standard
// error is one per process, so the threads of a sequence run decode in turn.
cv::Mat decodeImage(const std::string& path, int index, int flags)
{
    std::unique_lock<std::mutex> hold(standardErrorLock());
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    const int saved = capture != nullptr ? ::dup(STDERR_FILENO) : -1;
    const bool diverted = saved >= 0 && ::dup2(::fileno(capture), STDERR_FILENO) >= 0;
    cv::Mat image;
    std::string said;
    try {
        image = cv::imread(path, flags);
    } catch (const cv::Exception& e) {
        said = e.err;
    } catch (const std::exception& e) {
        said = e.what();
    } catch (...) {
        said = "unknown error";
    }
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


} // namespace

void failInput(const std::string& path, int index, const std::string& problem)
{
    throw InputError(path + " (" + inputRole(index) + "): " + problem);
}

std::string sizeText(long long width, long long height)
{
    return std::to_string(width) + "x" + std::to_string(height);
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
    return kRoles[index];
}

std::string cameraCountProblem(const std::string& found)
{
    return "needs nine numbers (near and far depth of each camera, focal length, both principal points, both "
           "camera positions), but " + found;
}

void loadCameraFile(const std::string& path)
{
    checkReadableFile(path, kCameraFile);
    const int numbersRead = readCameraParameters(path);
    if (numbersRead < 0)
        failInput(path, kCameraFile, "cannot be opened");
    if (numbersRead < 9)
        failInput(path, kCameraFile, cameraCountProblem("only " + std::to_string(numbersRead) + " could be read"));
    checkCameraValues(path);
}

void checkCameraValues(const std::string& path)
{
    const struct {
        const char* name;
        float value;
    } values[] = {
        {"near depth of the left camera", g_nearDepthLeft},   {"far depth of the left camera", g_farDepthLeft},
        {"near depth of the right camera", g_nearDepthRight}, {"far depth of the right camera", g_farDepthRight},
        {"focal length", g_focalLength},                      {"principal point of the left camera", g_principalPointLeft},
        {"principal point of the right camera", g_principalPointRight},
        {"position of the left camera", g_cameraPosLeft},     {"position of the right camera", g_cameraPosRight},
    };
    for (const auto& v : values) {
        std::ostringstream number;
        number << v.value;
        if (!std::isfinite(v.value))
            failInput(path, kCameraFile, std::string(v.name) + " is " + number.str() + ", not a finite number");
        if (std::strstr(v.name, "depth") != nullptr && !(v.value > 0.0f))
            failInput(path, kCameraFile, std::string(v.name) + " is " + number.str() + "; depths must be above 0");
    }
    if (!std::isfinite(g_baselineLeft) || !std::isfinite(g_baselineRight))
        failInput(path, kCameraFile, "the camera positions are too large to compute the middle camera and the baselines");
}

cv::Mat loadGreyImage(const std::string& path, int index, bool& deeperThan8Bits)
{
    checkReadableFile(path, index);
    // Reading at the file's own depth first tells whether it has more than
    // 8 bits per sample; only such files are read a second time, as 8-bit.
    cv::Mat image = decodeImage(path, index, cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH);
    deeperThan8Bits = image.depth() != CV_8U;
    if (deeperThan8Bits)
        image = decodeImage(path, index, cv::IMREAD_GRAYSCALE);
    return image;
}

std::string imageSizeProblem(const cv::Size& size, const cv::Size& leftSize, const std::string& leftName)
{
    if (size != leftSize)
        return "is " + sizeText(size.width, size.height) + " but " + leftName + " is " +
               sizeText(leftSize.width, leftSize.height);
    if (size.width < g_reduceFactor || size.height < g_reduceFactor)
        return "is " + sizeText(size.width, size.height) + "; images must be at least " +
               std::to_string(g_reduceFactor) + " pixels wide and high";
    return "";
}

void checkImageSize(const cv::Mat& image, int index, const cv::Size& leftSize, const std::string& path)
{
    const std::string problem = imageSizeProblem(image.size(), leftSize);
    if (!problem.empty())
        failInput(path, index, problem);
}

PairImages loadPairImages(const InputPaths& paths, std::ostream& warnings)
{
    PairImages images;
    cv::Mat* const targets[] = {&images.viewLeft,   &images.viewRight,  &images.depthLeftA,
                                &images.depthRightA, &images.depthLeftB, &images.depthRightB};
    bool warned = false;
    for (int i = 0; i < 6; ++i) {
        bool deeper = false;
        *targets[i] = loadGreyImage(paths[i], i, deeper);
        checkImageSize(*targets[i], i, images.viewLeft.size(), paths[i]);
        if (deeper && !warned) {
            warnings << "morvex: warning: " << paths[i] << " (" << inputRole(i)
                     << ") has more than 8 bits per sample; only the high 8 bits are used" << std::endl;
            warned = true;
        }
    }
    return images;
}
