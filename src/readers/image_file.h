#pragma once

// Single image files as the metric takes them: 8-bit grey, one channel.

#include "readers/input_files.h"

#include <opencv2/core.hpp>

#include <mutex>
#include <string>

// Reads one image of the pair as 8-bit grey. PNG files are decoded here,
// other formats by OpenCV's codecs in a plugin. Images with more than 8 bits
// per sample keep their high 8 bits; `deeperThan8Bits` tells the caller so.
// A depth map in colour is refused unless its red, green and blue are equal.
// Throws morvex::Error naming the file and its role.
cv::Mat loadGreyImage(const std::string& path, morvex::Input input, bool& deeperThan8Bits);

// The warning for an image with more than 8 bits per sample, of which the
// high 8 bits are used; allBelow256 when those are 0 everywhere.
std::string deepSamplesWarning(const std::string& path, morvex::Input input, bool allBelow256);

// Held while an image is decoded by the plugin, whose messages are diverted
// from the standard error; other writers to it during a run hold it too.
std::mutex& standardErrorLock();
