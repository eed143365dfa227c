#pragma once

#include <morvex/morvex.h>

#include <string>

// Creates dir (and its parents) unless it is a directory already. Throws
// InputError when it cannot.
void makeMapDirectory(const std::string& dir);

// Writes PREFIX_matSelfSim.png, PREFIX_matInvadSim.png, PREFIX_matSelfWeight.png,
// PREFIX_matInvadWeight.png (the display images of the maps) and
// PREFIX_heatmap.png into dir, creating it. Throws InputError on failure.
void saveViewMaps(const std::string& dir, const std::string& prefix, const cv::Mat& view,
                  const morvex::ViewMaps& maps);
