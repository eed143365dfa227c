#pragma once

#include "metric/evaluate_view.h"

#include <morvex/morvex.h>

#include <array>

namespace morvex {

// The linear map from depth value to unrounded disparity of one camera
// ('L', or any other side for the right one), as the double scale and offset
// that the conversion applies.
struct DisparityMapping {
    double scale;
    double offset;
};
DisparityMapping disparityMapping(const Camera& camera, char side);

// The disparity of each of the 256 depth values, as depthToDisparity gives it.
std::array<float, 256> disparityTable(const Camera& camera, char side);

// Both, as the depth form of the metric takes them.
detail::DepthConversion depthConversion(const Camera& camera, char side);

} // namespace morvex
