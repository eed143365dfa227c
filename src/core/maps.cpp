#include "core/settings.h"

#include <morvex/morvex.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace morvex {

namespace {

// Weighted errors below one grey level of difference at full weight get no
// colour in the heat map; of the others, this percentile gets the top colour.
const float kHeatFloor = 1.0f / (255.0f * 255.0f);
const size_t kHeatPercentile = 95;

// The low eight bits of t truncated toward zero; values past the 64-bit
// range and NaN (a map without range) give 0.
uint8_t lowByteOfTruncation(float t)
{
    if (!(std::fabs(t) < 9.2e18f))
        return 0;
    return static_cast<uint8_t>(static_cast<uint64_t>(static_cast<int64_t>(t)) & 0xFFu);
}

// The weighted error of each pixel: error times weight, summed over the
// passes that counted there (0 where none did).
cv::Mat weightedErrorMap(const ViewMaps& maps)
{
    cv::Mat weighted = cv::Mat::zeros(maps.matSelfSim.size(), CV_32F);
    for (int r = 0; r < weighted.rows; ++r) {
        float* out = weighted.ptr<float>(r);
        for (int c = 0; c < weighted.cols; ++c) {
            if (maps.matValidSelf.at<float>(r, c) == g_peakValue)
                out[c] += maps.matSelfSim.at<float>(r, c) * maps.matSelfWeight.at<float>(r, c);
            if (maps.matValidInvad.at<float>(r, c) == g_peakValue)
                out[c] += maps.matInvadSim.at<float>(r, c) * maps.matInvadWeight.at<float>(r, c);
        }
    }
    return weighted;
}

} // namespace

cv::Mat renderMap(const cv::Mat& map, bool autoRange)
{
    float low = 0.0f;
    float high = g_peakValue;
    if (autoRange) {
        low = 100000.0f;
        high = -100000.0f;
        for (int r = 0; r < map.rows; ++r) {
            const float* row = map.ptr<float>(r);
            for (int c = 0; c < map.cols; ++c) {
                if (low > row[c])
                    low = row[c];
                if (row[c] > high)
                    high = row[c];
            }
        }
    }
    const float span = high - low;

    cv::Mat image = cv::Mat::zeros(map.rows, map.cols, CV_8U);
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        uint8_t* out = image.ptr<uint8_t>(r);
        for (int c = 0; c < map.cols; ++c) {
            const float t = ((row[c] - low) * 255.0f) / span;
            out[c] = lowByteOfTruncation(t);
        }
    }
    return image;
}

cv::Mat errorHeatmap(const cv::Mat& view, const ViewMaps& maps)
{
    // Half of the non-zero errors are far below one grey level, traces of
    // the synthesis' averaging: they get no colour.
    cv::Mat weighted = weightedErrorMap(maps);
    cv::threshold(weighted, weighted, kHeatFloor, 0.0, cv::THRESH_TOZERO);

    // The rest are sparse and mostly small: scaled by their maximum, nearly
    // all of them would stay dark. A high percentile of them is the top of
    // the colour scale instead; larger ones are clamped to it.
    std::vector<float> shown;
    for (int r = 0; r < weighted.rows; ++r) {
        const float* row = weighted.ptr<float>(r);
        for (int c = 0; c < weighted.cols; ++c)
            if (row[c] > 0.0f)
                shown.push_back(row[c]);
    }
    float top = 0.0f;
    if (!shown.empty()) {
        const auto at = shown.begin() + static_cast<std::ptrdiff_t>(shown.size() * kHeatPercentile / 100);
        std::nth_element(shown.begin(), at, shown.end());
        top = *at;
    }

    // Most errors lie along object edges, one pixel wide; widened to three
    // they show at the size of the whole view.
    cv::Mat spread;
    cv::dilate(weighted, spread, cv::Mat());

    // The colour follows the root of the squared error, the size of the grey
    // difference, which spreads the decades of error over the scale.
    cv::Mat level(weighted.size(), CV_8U);
    for (int r = 0; r < spread.rows; ++r)
        for (int c = 0; c < spread.cols; ++c) {
            const float v = spread.at<float>(r, c);
            level.at<uint8_t>(r, c) =
                v > 0.0f ? cv::saturate_cast<uint8_t>(255.0f * std::sqrt(std::min(1.0f, v / top))) : 0;
        }
    cv::Mat colour;
    cv::applyColorMap(level, colour, cv::COLORMAP_PLASMA);

    // Where there is no error the view shows, dimmed so that the colour
    // stands out against it.
    cv::Mat heatmap(view.size(), CV_8UC3);
    for (int r = 0; r < view.rows; ++r)
        for (int c = 0; c < view.cols; ++c) {
            if (spread.at<float>(r, c) > 0.0f) {
                heatmap.at<cv::Vec3b>(r, c) = colour.at<cv::Vec3b>(r, c);
            } else {
                const uint8_t g = static_cast<uint8_t>(view.at<uint8_t>(r, c) / 2);
                heatmap.at<cv::Vec3b>(r, c) = cv::Vec3b(g, g, g);
            }
        }
    return heatmap;
}

} // namespace morvex
