#pragma once

#include "core/image_size.h"

#include <morvex/morvex.h>
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
using PairImages = morvex::PairImages;

// Throws InputError as "PATH (ROLE): PROBLEM".
[[noreturn]] void failInput(const std::string& path, int index, const std::string& problem);

// The library's error as an InputError, naming the input's path.
[[noreturn]] void failWithPath(const morvex::Error& error, const InputPaths& paths);

using morvex::sizeText;

// Fails unless path names a file (not a directory) that can be opened.
void checkReadableFile(const std::string& path, int index);

// Reads the camera file into the camera values and checks them: nine finite
// numbers, near and far depths above 0. Returns them as the library takes them.
morvex::Camera loadCameraFile(const std::string& path);

// Reads one image of the pair as 8-bit grey. Images with more than 8 bits per
// sample keep their high 8 bits; `deeperThan8Bits` tells the caller so. A
// depth map in colour is refused unless its red, green and blue are equal.
cv::Mat loadGreyImage(const std::string& path, int index, bool& deeperThan8Bits);

// The warning for an image with more than 8 bits per sample, of which the
// high 8 bits are used; allBelow256 when those are 0 everywhere.
std::string deepSamplesWarning(const std::string& path, int index, bool allBelow256);

// Checks that an image has the left view's size, and that the size is one
// the metric can work at.
void checkImageSize(const cv::Mat& image, int index, const cv::Size& leftSize, const std::string& path);

// Reads the six images and checks them; warns on `warnings` (once) when an
// image had more than 8 bits per sample.
PairImages loadPairImages(const InputPaths& paths, std::ostream& warnings);
