#include "driver/map_writer.h"

#include "driver/inputs.h"
#include "driver/png_writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

static void writeMapImage(const std::filesystem::path& path, const cv::Mat& image)
{
    errno = 0;
    if (!writePng(path.string(), image))
        throw InputError(path.string() + ": cannot write the map image" +
                         (errno ? ": " + std::string(std::strerror(errno)) : std::string()));
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
                  const morvex::ViewMaps& maps)
{
    makeMapDirectory(dir);
    const std::filesystem::path base(dir);
    writeMapImage(base / (prefix + "_matSelfSim.png"), morvex::renderMap(maps.matSelfSim, false));
    writeMapImage(base / (prefix + "_matInvadSim.png"), morvex::renderMap(maps.matInvadSim, false));
    writeMapImage(base / (prefix + "_matSelfWeight.png"), morvex::renderMap(maps.matSelfWeight, true));
    writeMapImage(base / (prefix + "_matInvadWeight.png"), morvex::renderMap(maps.matInvadWeight, true));
    writeMapImage(base / (prefix + "_heatmap.png"), morvex::errorHeatmap(view, maps));
}
