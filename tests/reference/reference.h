#pragma once

// The straightforward form of the metric: the image library's calls and
// plain per-pixel loops, one step after the other, as the metric is defined.
// It is slow on purpose and stays that way: the tests hold the tool's fast
// form to it bit for bit, and scripts/bench measures the speed-up against it.
// It reads the same settings, image size and camera values as the tool.

#include <opencv2/core.hpp>

namespace reference {

// What the pooling of one view counted.
struct ViewCounts {
    long long countedTerms = 0;      // error terms pooled (a pixel once per pass)
    long long disagreeingPixels = 0; // pixels whose two disparities differ
};

// An 8-bit depth map of side 'L' or 'R' as whole-pixel disparities (CV_32F).
void depthToDisparity(cv::Mat src, cv::Mat& dst, char side);

// The weighted mean squared error of a view (CV_32F, 0..255) against its
// re-syntheses from the disparity maps dispA and dispB.
float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB, ViewCounts* counts = nullptr);

} // namespace reference
