#pragma once
#include <cstdint>

#include <opencv2/core.hpp>

// What a real depth estimator might return for `truth`: object edges moved by a
// few pixels and softened, a few grey levels of noise, and a few holes filled
// with 0 or the background depth. Deterministic in `seed`.
cv::Mat flawedDepth(const cv::Mat& truth, int backgroundDepth, std::uint64_t seed);
