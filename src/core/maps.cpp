#include "metric/float_maps.h"
#include "metric/settings.h"

#include <morvex/morvex.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace morvex {

using detail::g_peakValue;

namespace {

// Weighted errors below one grey level of difference at full weight get no
// colour in the heat map; on an image's own scale, this percentile of the
// others gets the top colour.
const float kHeatFloor = 1.0f / (255.0f * 255.0f);
const size_t kHeatPercentile = 95;
// The colour bar below the view: its height, and a width at which its labels fit.
const int kBarHeight = 30;
const int kBarMinWidth = 256;

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

// The 95th percentile of the coloured errors, for a heat map on the image's
// own scale. The coloured errors are sparse and mostly small: scaled by their
// maximum, nearly all of them would stay dark.
float percentileOfColoured(const cv::Mat& weighted)
{
    std::vector<float> shown;
    for (int r = 0; r < weighted.rows; ++r) {
        const float* row = weighted.ptr<float>(r);
        for (int c = 0; c < weighted.cols; ++c)
            if (row[c] > 0.0f)
                shown.push_back(row[c]);
    }
    if (shown.empty())
        return 0.0f;
    const auto at = shown.begin() + static_cast<std::ptrdiff_t>(shown.size() * kHeatPercentile / 100);
    std::nth_element(shown.begin(), at, shown.end());
    return *at;
}

std::string barLabel(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", static_cast<double>(value));
    return text;
}

// The colour scale from no error to `top` across the strip, and beneath it
// the weighted errors of its start, middle (a quarter of top: the colour
// follows the root) and end.
void drawColourBar(cv::Mat strip, float top)
{
    cv::Mat ramp(1, strip.cols, CV_8U);
    for (int c = 0; c < strip.cols; ++c)
        ramp.at<uint8_t>(0, c) = static_cast<uint8_t>(c * 255 / std::max(strip.cols - 1, 1));
    cv::Mat colours;
    cv::applyColorMap(ramp, colours, cv::COLORMAP_PLASMA);
    for (int r = 2; r < kBarHeight / 2; ++r)
        colours.copyTo(strip.row(r));

    const int font = cv::FONT_HERSHEY_SIMPLEX;
    const double scale = 0.4;
    const std::string labels[3] = {"0", barLabel(top / 4.0f), ">=" + barLabel(top)};
    for (int i = 0; i < 3; ++i) {
        int baseline = 0;
        const cv::Size size = cv::getTextSize(labels[i], font, scale, 1, &baseline);
        const int x = i == 0 ? 2 : i == 1 ? (strip.cols - size.width) / 2 : strip.cols - size.width - 2;
        cv::putText(strip, labels[i], cv::Point(x, kBarHeight - 4), font, scale, cv::Scalar(255, 255, 255), 1,
                    cv::LINE_8);
    }
}

} // namespace

cv::Mat renderMap(const cv::Mat& mapArgument, bool autoRange)
{
    const cv::Mat map = detail::floatsInPlace(mapArgument);
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

cv::Mat errorHeatmap(const cv::Mat& view, const ViewMaps& mapArguments, float top)
{
    ViewMaps maps = mapArguments;
    for (cv::Mat* m : {&maps.matSelfSim, &maps.matInvadSim, &maps.matSelfWeight, &maps.matInvadWeight,
                       &maps.matValidSelf, &maps.matValidInvad})
        *m = detail::floatsInPlace(*m);
    // Half of the non-zero errors are far below one grey level, traces of
    // the synthesis' averaging: they get no colour.
    cv::Mat weighted = weightedErrorMap(maps);
    cv::threshold(weighted, weighted, kHeatFloor, 0.0, cv::THRESH_TOZERO);
    if (!(top > 0.0f))
        top = percentileOfColoured(weighted);

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
    // stands out against it; the colour bar goes below it.
    cv::Mat heatmap = cv::Mat::zeros(view.rows + kBarHeight, std::max(view.cols, kBarMinWidth), CV_8UC3);
    for (int r = 0; r < view.rows; ++r)
        for (int c = 0; c < view.cols; ++c) {
            if (spread.at<float>(r, c) > 0.0f) {
                heatmap.at<cv::Vec3b>(r, c) = colour.at<cv::Vec3b>(r, c);
            } else {
                const uint8_t g = static_cast<uint8_t>(view.at<uint8_t>(r, c) / 2);
                heatmap.at<cv::Vec3b>(r, c) = cv::Vec3b(g, g, g);
            }
        }
    drawColourBar(heatmap(cv::Rect(0, view.rows, heatmap.cols, kBarHeight)), top);
    return heatmap;
}

} // namespace morvex
