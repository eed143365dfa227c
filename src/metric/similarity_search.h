#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

// Truncates a disparity toward zero to a whole number of pixels. Values past
// the 32-bit range saturate, and NaN maps to INT32_MIN, so every column
// computed from a disparity stays well defined (in 64 bits) and far outside
// the row when the disparity is absurd.
int64_t truncateDisparity(float value);

// For every pixel whose two disparities differ, synthesises the self value
// (what arrives under dispB at the column where dispA sends the pixel) into
// matViewSelf and the invading value (the same with the maps swapped) into
// matViewInvad, and marks in matValidSelf / matValidInvad the pixels that
// count in the pooling. The four outputs must exist already (copies of the
// view, and zeros).
void searchSimilarity(cv::Mat view, cv::Mat dispA, cv::Mat dispB, cv::Mat matDispDiff, cv::Mat matExpWeight,
                      cv::Mat matGradDispCopy, cv::Mat& matViewSelf, cv::Mat& matViewInvad, cv::Mat& matValidSelf,
                      cv::Mat& matValidInvad);
