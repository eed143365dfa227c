#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>

// The seven inputs of one scoring run, in command-line order.
enum InputIndex {
    kLeftView,
    kRightView,
    kDepthLeftA,
    kDepthRightA,
    kDepthLeftB,
    kDepthRightB,
    kCameraFile,
    kInputCount
};
using InputPaths = std::array<std::string, kInputCount>;

// What an input is, for messages: "left view", "depth map of the right view, set B", ...
const char* inputRole(int index);

// Held while an image is decoded, when the decoder's messages are diverted
// from the standard error; other writers to it during a run hold it too.
std::mutex& standardErrorLock();

// An input that cannot be used. The message names the file, its role and
// what is wrong; the driver prefixes it with "morvex: ".
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The images of one stereo pair as read: 8-bit grey.
struct PairImages {
    cv::Mat viewLeft, viewRight;
    cv::Mat depthLeftA, depthRightA, depthLeftB, depthRightB;
};

// Throws InputError as "PATH (ROLE): PROBLEM".
[[noreturn]] void failInput(const std::string& path, int index, const std::string& problem);

// Fails unless path names a file (not a directory) that can be opened.
void checkReadableFile(const std::string& path, int index);

// "64x48"
std::string sizeText(long long width, long long height);

// Reads and checks the camera file into the camera values: nine finite
// numbers, near and far depths above 0.
void loadCameraFile(const std::string& path);

// Checks this thread's camera values, baselines derived: every value finite,
// near and far depths above 0. Failures name `path` as the camera file.
void checkCameraValues(const std::string& path);

// "needs nine numbers (...), but " + found: camera values that are not nine.
std::string cameraCountProblem(const std::string& found);

// Reads one image of the pair as 8-bit grey. Images with more than 8 bits per
// sample keep their high 8 bits; `deeperThan8Bits` tells the caller so.
cv::Mat loadGreyImage(const std::string& path, int index, bool& deeperThan8Bits);

// What is wrong with an image of `size` ("is WxH but the left view is WxH",
// "is WxH; images must be at least 8 pixels wide and high"), or "" when the
// metric can work at it. Every image must have the left view's size.
std::string imageSizeProblem(const cv::Size& size, const cv::Size& leftSize,
                             const std::string& leftName = "the left view");

// Checks that an image has the left view's size, and that the size is one
// the metric can work at.
void checkImageSize(const cv::Mat& image, int index, const cv::Size& leftSize, const std::string& path);

// Reads the six images and checks them; warns on `warnings` (once) when an
// image had more than 8 bits per sample.
PairImages loadPairImages(const InputPaths& paths, std::ostream& warnings);
