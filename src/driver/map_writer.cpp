#include "driver/map_writer.h"

#include "driver/inputs.h"
#include "driver/settings.h"
#include "metric/show_map.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <filesystem>

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
    // The square root spreads the small errors that dominate a good estimate
    // over more of the colour scale.
    cv::Mat weighted = weightedErrorMap(details);
    cv::sqrt(weighted, weighted);
    double top = 0.0;
    cv::minMaxLoc(weighted, nullptr, &top);
    cv::Mat level;
    weighted.convertTo(level, CV_8U, top > 0.0 ? 255.0 / top : 0.0);
    cv::Mat colour;
    cv::applyColorMap(level, colour, cv::COLORMAP_INFERNO);

    cv::Mat grey;
    cv::cvtColor(view, grey, cv::COLOR_GRAY2BGR);
    // Error-free pixels show the view; the colour covers it as the error grows.
    cv::Mat alpha;
    level.convertTo(alpha, CV_32F, 1.0 / 255.0);
    cv::sqrt(alpha, alpha);
    cv::Mat heatmap(view.size(), CV_8UC3);
    for (int r = 0; r < view.rows; ++r)
        for (int c = 0; c < view.cols; ++c) {
            const float a = 0.25f + 0.75f * alpha.at<float>(r, c);
            const cv::Vec3b g = grey.at<cv::Vec3b>(r, c) * 0.6;
            const cv::Vec3b h = colour.at<cv::Vec3b>(r, c);
            for (int k = 0; k < 3; ++k)
                heatmap.at<cv::Vec3b>(r, c)[k] = cv::saturate_cast<uint8_t>((1.0f - a) * g[k] + a * h[k]);
        }
    return heatmap;
}

static void writePng(const std::filesystem::path& path, const cv::Mat& image)
{
    bool written = false;
    try {
        written = cv::imwrite(path.string(), image);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written)
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
    writePng(base / (prefix + "_matSelfSim.png"), renderMap(details.matSelfSim, false));
    writePng(base / (prefix + "_matInvadSim.png"), renderMap(details.matInvadSim, false));
    writePng(base / (prefix + "_matSelfWeight.png"), renderMap(details.matSelfWeight, true));
    writePng(base / (prefix + "_matInvadWeight.png"), renderMap(details.matInvadWeight, true));
    writePng(base / (prefix + "_heatmap.png"), errorHeatmap(view, details));
}
