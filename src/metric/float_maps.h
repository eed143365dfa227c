#pragma once

#include <opencv2/core.hpp>

namespace morvex::detail {

// The map itself when its floats can be read in place, otherwise a copy: a
// map may share a buffer that starts at any byte (numpy's frombuffer with an
// offset, say), and reading a float at an address that is not a multiple of
// its alignment is undefined.
cv::Mat floatsInPlace(const cv::Mat& map);

// The largest magnitude a value of a float map may have: past it the
// truncation of a disparity no longer fits in 32 bits, and sums of the edge
// filters could overflow to infinity, which would make the error NaN while
// pixels are counted.
constexpr float kLargestMapValue = 2147483648.0f; // 2^31

// Throws Error (Input::None) naming the map and the first pixel, in row
// order, whose value is NaN, infinite or beyond kLargestMapValue.
void checkValues(const cv::Mat& map, const char* name);

} // namespace morvex::detail
