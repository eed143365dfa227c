#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace morvex {

// "64x48"
std::string sizeText(long long width, long long height);

// What is wrong with an image of `size` ("is WxH but the left view is WxH",
// "is WxH; images must be at least 8 pixels wide and high"), or "" when the
// metric can work at it. Every image of a pair has the left view's size.
std::string imageSizeProblem(cv::Size size, cv::Size leftSize, const std::string& leftName = "the left view");

} // namespace morvex
