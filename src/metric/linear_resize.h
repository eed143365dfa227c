#pragma once

#include <opencv2/core.hpp>

// Bilinear resize of a single-channel float map to the given size, with the
// pixel-centre alignment, coefficients, border handling and order of float
// operations of the image library's INTER_LINEAR resize. Unlike the library's
// vector code, its results do not depend on the CPU (no fused multiply-add).
void resizeLinear(const cv::Mat& src, cv::Mat& dst, cv::Size size);
