#include "metric/disparity_differences.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace morvex::detail {

namespace {

struct Tally {
    long long over1 = 0;
    long long over2 = 0;
    double sum = 0.0;

    void add(double difference)
    {
        over1 += difference > 1.0;
        over2 += difference > 2.0;
        sum += difference;
    }
};

void store(const Tally& tally, long long pixels, morvex::ViewResult& result)
{
    result.pixels = pixels;
    result.differOver1 = tally.over1;
    result.differOver2 = tally.over2;
    result.absDifferenceSum = tally.sum;
}

} // namespace

void countDepthDifferences(const cv::Mat& depthA, const cv::Mat& depthB, const std::array<float, 256>& disparity,
                           morvex::ViewResult& result)
{
    // Whole-pixel disparities below 16384 pixels are the rule: then 16-bit
    // integers hold them and their differences exactly, and the loop stays
    // cheap. Larger disparities, which the camera values allow, take doubles.
    bool small = true;
    std::array<int16_t, 256> whole;
    for (int v = 0; v < 256; ++v) {
        small = small && std::fabs(disparity[v]) < 16384.0f;
        whole[v] = small ? static_cast<int16_t>(disparity[v]) : 0;
    }
    Tally tally;
    long long sum = 0;
    for (int r = 0; r < depthA.rows; ++r) {
        const uint8_t* a = depthA.ptr<uint8_t>(r);
        const uint8_t* b = depthB.ptr<uint8_t>(r);
        if (small) {
            // 32-bit sums of at most 65536 pixels' differences below 32768.
            for (int start = 0; start < depthA.cols; start += 65536) {
                const int end = std::min(depthA.cols, start + 65536);
                uint32_t over1 = 0, over2 = 0, chunkSum = 0;
                for (int c = start; c < end; ++c) {
                    const int d = std::abs(whole[b[c]] - whole[a[c]]);
                    over1 += d > 1;
                    over2 += d > 2;
                    chunkSum += static_cast<uint32_t>(d);
                }
                tally.over1 += over1;
                tally.over2 += over2;
                sum += chunkSum;
            }
        } else {
            for (int c = 0; c < depthA.cols; ++c)
                tally.add(std::fabs(static_cast<double>(disparity[b[c]]) - disparity[a[c]]));
        }
    }
    if (small)
        tally.sum = static_cast<double>(sum);
    store(tally, static_cast<long long>(depthA.rows) * depthA.cols, result);
}

void countDisparityDifferences(const cv::Mat& dispA, const cv::Mat& dispB, morvex::ViewResult& result)
{
    Tally tally;
    for (int r = 0; r < dispA.rows; ++r) {
        const float* a = dispA.ptr<float>(r);
        const float* b = dispB.ptr<float>(r);
        for (int c = 0; c < dispA.cols; ++c)
            tally.add(std::fabs(static_cast<double>(b[c]) - a[c]));
    }
    store(tally, static_cast<long long>(dispA.rows) * dispA.cols, result);
}

} // namespace morvex::detail
