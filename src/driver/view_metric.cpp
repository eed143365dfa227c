#include "driver/view_metric.h"

#include "driver/camera.h"
#include "driver/settings.h"
#include "driver/window_plugin.h"

#include <cstdlib>
#include <iostream>

void depthToDisparity(cv::Mat src, cv::Mat& dst, char side)
{
    dst = morvex::depthToDisparity(src, cameraFromGlobals(), side);
}

float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB)
{
    const cv::Rect frame(0, 0, g_imageWidth, g_imageHeight);
    return morvex::evaluateView(view(frame), dispA(frame), dispB(frame), viewOptionsOfRun(std::cout)).error;
}

void showMap(cv::Mat map, const char* windowName, bool autoRange)
{
    if (g_showMaps)
        showInWindow(windowName, morvex::renderMap(map, autoRange));
}

morvex::ViewOptions viewOptionsOfRun(std::ostream& phaseOutput)
{
    morvex::ViewOptions options;
    // MORVEX_SCALAR in the environment switches the vector code off, to
    // show that the results do not depend on it.
    options.vectorCode = std::getenv("MORVEX_SCALAR") == nullptr;
    if (g_printPhases)
        options.phaseLines = [&phaseOutput](const std::string& line) { phaseOutput << line << std::endl; };
    if (g_showMaps)
        options.showMap = [](const cv::Mat& map, const std::string& windowName, bool autoRange) {
            showMap(map, windowName.c_str(), autoRange);
        };
    return options;
}
