#include "driver/map_writer.h"

#include "driver/inputs.h"
#include "driver/png_writer.h"
#include "driver/settings.h"
#include "metric/show_map.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

// Weighted errors below one grey level of difference at full weight get no
// colour in the heat map; of the others, this percentile gets the top colour.
static const float kHeatFloor = 1.0f / (255.0f * 255.0f);
static const size_t kHeatPercentile = 95;

cv::Mat weightedErrorMap(const ViewDetails& d)
{
    cv::Mat weighted = cv::Mat::zeros(d.matSelfSim.size(), CV_32F);
    for (int r = 0; r < weighted.rows; ++r) {
        float* out = weighted.ptr<float>(r);
        for (int c = 0; c < weighted.cols; ++c) {
            if (d.matValidSelf.at<float>(r, c) == g_peakValue)
                out[c] += d.matSelfSim.at<float>(r, c) * d.matSelfWeight.at<float>(r, c);
            if (d.matValidInvad.at<float>(r, c) == g_peakValue)
                out[c] += d.matInvadSim.at<float>(r, c) * d.matInvadWeight.at<float>(r, c);
        }
    }
    return weighted;
}

cv::Mat errorHeatmap(const cv::Mat& view, const ViewDetails& details)
{
    // Half of the non-zero errors are far below one grey level, traces of
    // the synthesis' averaging: they get no colour.
    cv::Mat weighted = weightedErrorMap(details);
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

static void writeMapImage(const std::filesystem::path& path, const cv::Mat& image)
{
    if (!writePng(path.string(), image))
        throw InputError(path.string() + ": cannot write the map image");
}

void makeMapDirectory(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir))
        throw InputError(dir + ": cannot create the directory for --save-maps" +
                         (ec ? ": " + ec.message() : std::string()));
}

void saveViewMaps(const std::string& dir, const std::string& prefix, const cv::Mat& view,
                  const ViewDetails& details)
{
    makeMapDirectory(dir);
    const std::filesystem::path base(dir);
    writeMapImage(base / (prefix + "_matSelfSim.png"), renderMap(details.matSelfSim, false));
    writeMapImage(base / (prefix + "_matInvadSim.png"), renderMap(details.matInvadSim, false));
    writeMapImage(base / (prefix + "_matSelfWeight.png"), renderMap(details.matSelfWeight, true));
    writeMapImage(base / (prefix + "_matInvadWeight.png"), renderMap(details.matInvadWeight, true));
    writeMapImage(base / (prefix + "_heatmap.png"), errorHeatmap(view, details));
}
