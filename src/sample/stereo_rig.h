#pragma once
#include <array>
#include <string>

// The nine camera numbers, in the order of the camera file.
struct StereoRig {
    double nearLeft, farLeft, nearRight, farRight;
    double focal, principalLeft, principalRight;
    double positionLeft, positionRight;
};

enum class Side { Left, Right };

// Fixed geometry whose focal length grows with the image width, so disparities
// keep the same proportion of the image at every size.
StereoRig rigForWidth(int width);

std::string rigText(const StereoRig& rig);

// Integer disparity toward the middle camera for every 8-bit depth value
// (255 = near): a pixel at x in the side view lands at x + table[v] in the middle.
std::array<int, 256> disparityTable(const StereoRig& rig, Side side);
