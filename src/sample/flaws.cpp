#include "sample/flaws.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "sample/random.h"

namespace {

// Dilating grows the near objects (the usual fattening of stereo matchers);
// eroding shrinks them.
cv::Mat displaceEdges(const cv::Mat& depth, int reach, bool grow)
{
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, {2 * reach + 1, 2 * reach + 1});
    cv::Mat moved;
    if (grow)
        cv::dilate(depth, moved, kernel);
    else
        cv::erode(depth, moved, kernel);
    return moved;
}

void addNoise(cv::Mat& depth, Rng& rng, int amplitude)
{
    for (int y = 0; y < depth.rows; ++y) {
        uchar* row = depth.ptr<uchar>(y);
        for (int x = 0; x < depth.cols; ++x)
            row[x] = cv::saturate_cast<uchar>(row[x] + rng.uniform(-amplitude, amplitude));
    }
}

void punchHoles(cv::Mat& depth, Rng& rng, int backgroundDepth)
{
    const int side = std::min(depth.cols, depth.rows);
    const int holes = rng.uniform(3, 6);
    for (int i = 0; i < holes; ++i) {
        const cv::Point centre(rng.uniform(0, depth.cols - 1), rng.uniform(0, depth.rows - 1));
        const int radius = rng.uniform(std::max(1, side / 80), std::max(1, side / 40));
        const int value = rng.coin() ? 0 : backgroundDepth;
        cv::circle(depth, centre, radius, cv::Scalar(value), cv::FILLED, cv::LINE_8);
    }
}

} // namespace

cv::Mat flawedDepth(const cv::Mat& truth, int backgroundDepth, std::uint64_t seed)
{
    Rng rng(seed);
    const int reach = std::max(1, truth.cols / 320);
    cv::Mat estimate = displaceEdges(truth, reach, rng.coin());
    // 8-bit Gaussian blur runs in OpenCV's bit-exact fixed-point path.
    cv::GaussianBlur(estimate, estimate, {4 * reach + 1, 4 * reach + 1}, reach, reach, cv::BORDER_REPLICATE);
    addNoise(estimate, rng, 3);
    punchHoles(estimate, rng, backgroundDepth);
    return estimate;
}
