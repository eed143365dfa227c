#pragma once
#include <array>
#include <vector>

#include <opencv2/core.hpp>

#include "sample/layout.h"

struct RenderedView {
    cv::Mat grey;  // CV_8UC1
    cv::Mat depth; // CV_8UC1, depth value of the visible layer
};

// Painter's algorithm from far to near: each layer row is shifted by the
// disparity of its depth, so view pixel x shows the middle-camera point x + d.
RenderedView renderView(const std::vector<Layer>& layers, const std::array<int, 256>& disparity, cv::Size size);
