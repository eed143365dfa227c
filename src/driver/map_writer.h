#pragma once

#include "metric/evaluate_view.h"

#include <opencv2/core.hpp>

#include <string>

// The weighted error of each pixel: error times weight, summed over the
// passes that counted there (0 where none did).
cv::Mat weightedErrorMap(const ViewDetails& details);

// The view in grey, dimmed, with its weighted error laid over it in the
// plasma colour map: errors below one grey level show no colour, the others
// are widened by a pixel and scaled by a high percentile of them.
cv::Mat errorHeatmap(const cv::Mat& view, const ViewDetails& details);

// Creates dir (and its parents) unless it is a directory already. Throws
// InputError when it cannot.
void makeMapDirectory(const std::string& dir);

// Writes PREFIX_matSelfSim.png, PREFIX_matInvadSim.png, PREFIX_matSelfWeight.png,
// PREFIX_matInvadWeight.png (the display images of the maps) and
// PREFIX_heatmap.png into dir, creating it. Throws InputError on failure.
void saveViewMaps(const std::string& dir, const std::string& prefix, const cv::Mat& view,
                  const ViewDetails& details);
