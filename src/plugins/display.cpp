// The plugin that shows maps in windows, with OpenCV's window library.

#include "plugins/plugin_api.h"

#include <opencv2/highgui.hpp>

#include <type_traits>

extern "C" void morvexShowImage(const char* windowName, const cv::Mat* image)
{
    cv::imshow(windowName, *image);
    cv::waitKey(0);
}

extern "C" bool morvexOpenWindow(const char* windowName)
{
    try {
        cv::namedWindow(windowName);
        cv::destroyWindow(windowName);
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

static_assert(std::is_same<decltype(&morvexShowImage), ShowImageFunction>::value, "the tool calls it so");
static_assert(std::is_same<decltype(&morvexOpenWindow), OpenWindowFunction>::value, "the tool calls it so");
