#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <ostream>
#include <string>

// The seven inputs of one scoring run, in command-line order.
enum InputIndex {
    kLeftView,
    kRightView,
    kDepthLeftA,
    kDepthRightA,
    kDepthLeftB,
    kDepthRightB,
    kCameraFile,
    kInputCount
};
using InputPaths = std::array<std::string, kInputCount>;

// The images of one stereo pair as read: 8-bit grey.
struct PairImages {
    cv::Mat viewLeft, viewRight;
    cv::Mat depthLeftA, depthRightA, depthLeftB, depthRightB;
};

// Scores one pair whose camera values and image size are already set, and
// writes the score line and the time line to out.
void scorePair(const PairImages& images, std::ostream& out);

// The whole run: camera file, images, score, output. Returns the exit status.
int runScoring(const InputPaths& paths, std::ostream& out);
