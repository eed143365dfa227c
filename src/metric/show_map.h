#pragma once

#include <opencv2/core.hpp>

#include <string>

// Stretches a float map over 0..255 into an 8-bit grey image: over its own
// minimum and maximum (scan starting from 1e5 / -1e5) when autoRange is set,
// otherwise over 0..g_peakValue. Values are truncated, not rounded, and not
// clamped: the pixel keeps the low eight bits of the truncated value.
cv::Mat renderMap(cv::Mat map, bool autoRange);

// Shows renderMap's image in a window named windowName and waits for a key,
// when g_showMaps is set; does nothing otherwise.
void showMap(cv::Mat map, const char* windowName, bool autoRange);

// Why showMap's windows cannot open, or an empty string when they can: a
// display must be named in DISPLAY or WAYLAND_DISPLAY, and a window must open
// on it, tried first in a child process given 10 seconds.
std::string displayProblem();
