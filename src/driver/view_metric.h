#pragma once

// The depth conversion, the per-view metric and the map display as the run
// names them, on the run's globals: the image size, the camera values and
// the two switches. Each builds the library's explicit arguments from them.

#include <morvex/morvex.h>

#include <ostream>

// An 8-bit depth map of side 'L' (any other side: the right camera) as
// whole-pixel disparities (CV_32F), with the camera of the globals.
void depthToDisparity(cv::Mat src, cv::Mat& dst, char side);

// The weighted mean squared error of a view (CV_32F, 0..255) against its
// re-syntheses from the disparity maps dispA and dispB, over the first
// g_imageHeight rows and g_imageWidth columns. Phase lines go to standard
// output with g_printPhases, maps to windows with g_showMaps.
float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB);

// Shows a map in a window named windowName and waits for a key, when
// g_showMaps is set.
void showMap(cv::Mat map, const char* windowName, bool autoRange);

// The options of the run's switches: with g_printPhases each phase line is
// written to phaseOutput, with g_showMaps each map is shown in a window;
// MORVEX_SCALAR in the environment switches the vector code off.
morvex::ViewOptions viewOptionsOfRun(std::ostream& phaseOutput);
