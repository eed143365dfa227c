#pragma once

#include <morvex/morvex.h>

#include <cstdio>
#include <string>

// Creates dir (and its parents) unless it is a directory already. Throws
// std::runtime_error when it cannot.
void makeMapDirectory(const std::string& dir);

// Writes PREFIX_matSelfSim.png, PREFIX_matInvadSim.png, PREFIX_matSelfWeight.png,
// PREFIX_matInvadWeight.png (the display images of the maps) and
// PREFIX_heatmap.png into dir, creating it. Throws std::runtime_error on failure.
// heatmapTop is errorHeatmap's top.
void saveViewMaps(const std::string& dir, const std::string& prefix, const cv::Mat& view, const morvex::ViewMaps& maps,
                  float heatmapTop);

// A video of heat maps as a .y4m file (4:4:4, full range), which common
// players show; its frames are written in order. Throws std::runtime_error when the
// file cannot be written.
class HeatmapVideo {
public:
    explicit HeatmapVideo(const std::string& path);
    ~HeatmapVideo();
    HeatmapVideo(const HeatmapVideo&) = delete;
    HeatmapVideo& operator=(const HeatmapVideo&) = delete;
    void write(const cv::Mat& heatmap); // CV_8UC3, every frame of one size
    void close();

private:
    void fail();
    std::string path_;
    std::FILE* file_ = nullptr;
};
