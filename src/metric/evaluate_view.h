#pragma once

#include <morvex/morvex.h>

// One view scored from its 8-bit grey image and its 8-bit depth maps of sets
// A and B, converted with the camera of `side` ('L' or 'R'): the same result
// as morvex::evaluateView on the view as floats and the converted depth maps,
// computed through per-value tables without full-size float maps. The three
// images are CV_8UC1 of one size of at least 8x8.
morvex::ViewResult evaluateDepthView(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB,
                                     const morvex::Camera& camera, char side, const morvex::ViewOptions& options);
