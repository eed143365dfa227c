#include "driver/inputs.h"

#include "driver/camera.h"
#include "driver/settings.h"

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
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

[[noreturn]] void fail(const std::string& path, int index, const std::string& problem)
{
    throw InputError(path + " (" + inputRole(index) + "): " + problem);
}

// Fails unless path names a regular file that this process can read.
void checkReadableFile(const std::string& path, int index)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        fail(path, index, "no such file");
    if (std::filesystem::is_directory(status))
        fail(path, index, "is a directory, not a file");
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        fail(path, index, std::string("cannot be opened: ") + std::strerror(errno));
}

std::string sizeText(const cv::Size& size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

} // namespace

const char* inputRole(int index)
{
    return kRoles[index];
}

void loadCameraFile(const std::string& path)
{
    checkReadableFile(path, kCameraFile);
    const int numbersRead = readCameraParameters(path);
    if (numbersRead < 0)
        fail(path, kCameraFile, "cannot be opened");
    if (numbersRead < 9)
        fail(path, kCameraFile,
             "needs nine numbers (near and far depth of each camera, focal length, both principal points, both "
             "camera positions), but only " + std::to_string(numbersRead) + " could be read");

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
            fail(path, kCameraFile, std::string(v.name) + " is " + number.str() + ", not a finite number");
        if (std::strstr(v.name, "depth") != nullptr && !(v.value > 0.0f))
            fail(path, kCameraFile, std::string(v.name) + " is " + number.str() + "; depths must be above 0");
    }
    if (!std::isfinite(g_baselineLeft) || !std::isfinite(g_baselineRight))
        fail(path, kCameraFile, "the camera positions are too far apart to compute the baselines");
}

cv::Mat loadGreyImage(const std::string& path, int index, bool& deeperThan8Bits)
{
    checkReadableFile(path, index);
    // Reading at the file's own depth first tells whether it has more than
    // 8 bits per sample; only such files are read a second time, as 8-bit.
    cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH);
    if (image.empty())
        fail(path, index, "is not an image that can be decoded (unknown format, truncated or corrupt)");
    deeperThan8Bits = image.depth() != CV_8U;
    if (deeperThan8Bits) {
        image = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (image.empty())
            fail(path, index, "cannot be read as an 8-bit grey image");
    }
    return image;
}

void checkImageSize(const cv::Mat& image, int index, const cv::Size& leftSize, const std::string& path)
{
    if (image.size() != leftSize)
        fail(path, index, "is " + sizeText(image.size()) + " but the left view is " + sizeText(leftSize));
    if (image.cols < g_reduceFactor || image.rows < g_reduceFactor)
        fail(path, index,
             "is " + sizeText(image.size()) + "; images must be at least " + std::to_string(g_reduceFactor) +
                 " pixels wide and high");
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
