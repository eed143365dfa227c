#pragma once

#include <morvex/morvex.h>

#include <array>

namespace morvex::detail {

// The counts of ViewResult's disparity errors (pixels, differOver1,
// differOver2, absDifferenceSum) into `result`: from 8-bit depth maps
// through the disparity of each depth value, or from float disparity maps.
// Neither touches the score.
void countDepthDifferences(const cv::Mat& depthA, const cv::Mat& depthB, const std::array<float, 256>& disparity,
                           morvex::ViewResult& result);
void countDisparityDifferences(const cv::Mat& dispA, const cv::Mat& dispB, morvex::ViewResult& result);

} // namespace morvex::detail
