#pragma once

#include <morvex/morvex.h>

#include <array>

namespace morvex::detail {

// How one camera turns depth values into disparities: the disparity of each
// of the 256 values, as depthToDisparity gives it, and the double scale and
// offset of the unrounded disparities.
struct DepthConversion {
    std::array<float, 256> disparity;
    double scale;
    double offset;
};

// One view scored from its 8-bit grey image and its 8-bit depth maps of sets
// A and B, converted by `conversion`: the same result as morvex::evaluateView
// on the view as floats and the converted depth maps, computed through
// per-value tables without full-size float maps. The three images are
// CV_8UC1 of one size of at least 8x8.
morvex::ViewResult evaluateDepthView(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB,
                                     const DepthConversion& conversion, const morvex::ViewOptions& options);

} // namespace morvex::detail
