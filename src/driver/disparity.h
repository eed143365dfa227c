#pragma once

#include <opencv2/core.hpp>

#include <array>

// Turns an 8-bit depth map of one view (255 = near) into whole-pixel
// disparities towards the virtual middle camera, as a CV_32F map of the same
// size. side 'L' selects the left camera's values; any other side the right's.
void depthToDisparity(cv::Mat src, cv::Mat& dst, char side);

// The disparity of each of the 256 depth values, as depthToDisparity gives it.
std::array<float, 256> disparityTable(char side);

// The linear map from depth value to unrounded disparity, as the double scale
// and offset that the conversion applies.
struct DisparityMapping {
    double scale;
    double offset;
};
DisparityMapping disparityMapping(char side);
