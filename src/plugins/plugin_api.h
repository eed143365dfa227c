#pragma once

// The entry points of the tool's plugins: shared libraries that link the
// parts of OpenCV that are slow to load (its image codecs pull in about 120
// libraries, its windows Qt), so that the tool loads them only when an input
// or an option needs them. The tool and its plugins are built together from
// these declarations, so they may share cv::Mat and std::string.

#include <opencv2/core.hpp>

#include <string>

// morvex_image_codecs: cv::imread(path, IMREAD_GRAYSCALE), with
// IMREAD_ANYDEPTH when keepDepth is set; with keepChannels, IMREAD_ANYCOLOR
// instead of IMREAD_GRAYSCALE. False, with image untouched and problem
// holding the message, when the image library threw.
using ReadImageFunction = bool (*)(const char* path, bool keepDepth, bool keepChannels, cv::Mat* image,
                                   std::string* problem);
constexpr const char* kReadImageSymbol = "morvexReadImage";

// morvex_display: shows the image in the window of that name and waits for a key.
using ShowImageFunction = void (*)(const char* windowName, const cv::Mat* image);
constexpr const char* kShowImageSymbol = "morvexShowImage";

// morvex_display: opens a window of that name and closes it again; false
// when the image library cannot.
using OpenWindowFunction = bool (*)(const char* windowName);
constexpr const char* kOpenWindowSymbol = "morvexOpenWindow";
