#include "driver/map_writer.h"

#include "driver/png_writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <opencv2/imgproc.hpp>

static void writeMapImage(const std::filesystem::path& path, const cv::Mat& image)
{
    errno = 0;
    if (!writePng(path.string(), image))
        throw std::runtime_error(path.string() + ": cannot write the map image" +
                         (errno ? ": " + std::string(std::strerror(errno)) : std::string()));
}

void makeMapDirectory(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir))
        throw std::runtime_error(dir + ": cannot create the directory for --save-maps" +
                         (ec ? ": " + ec.message() : std::string()));
}

void saveViewMaps(const std::string& dir, const std::string& prefix, const cv::Mat& view, const morvex::ViewMaps& maps,
                  float heatmapTop)
{
    makeMapDirectory(dir);
    const std::filesystem::path base(dir);
    writeMapImage(base / (prefix + "_matSelfSim.png"), morvex::renderMap(maps.matSelfSim, false));
    writeMapImage(base / (prefix + "_matInvadSim.png"), morvex::renderMap(maps.matInvadSim, false));
    writeMapImage(base / (prefix + "_matSelfWeight.png"), morvex::renderMap(maps.matSelfWeight, true));
    writeMapImage(base / (prefix + "_matInvadWeight.png"), morvex::renderMap(maps.matInvadWeight, true));
    writeMapImage(base / (prefix + "_heatmap.png"), morvex::errorHeatmap(view, maps, heatmapTop));
}

HeatmapVideo::HeatmapVideo(const std::string& path) : path_(path)
{
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr)
        fail();
}

HeatmapVideo::~HeatmapVideo()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void HeatmapVideo::write(const cv::Mat& heatmap)
{
    errno = 0;
    // The frame size is known with the first frame.
    if (std::ftell(file_) == 0 &&
        std::fprintf(file_, "YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C444 XCOLORRANGE=FULL\n", heatmap.cols, heatmap.rows) < 0)
        fail();
    cv::Mat yuv;
    cv::cvtColor(heatmap, yuv, cv::COLOR_BGR2YUV);
    std::vector<cv::Mat> planes;
    cv::split(yuv, planes);
    if (std::fputs("FRAME\n", file_) < 0)
        fail();
    for (const cv::Mat& plane : planes)
        if (std::fwrite(plane.data, 1, plane.total(), file_) != plane.total())
            fail();
}

void HeatmapVideo::close()
{
    errno = 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed)
        fail();
}

void HeatmapVideo::fail()
{
    throw std::runtime_error(path_ + ": cannot write the heat map video" +
                     (errno ? ": " + std::string(std::strerror(errno)) : std::string()));
}
