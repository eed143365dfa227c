#include "driver/window_plugin.h"

#include "readers/plugin_loader.h"
#include "plugins/plugin_api.h"

void loadWindowPlugin()
{
    pluginFunction(kDisplayPlugin, kShowImageSymbol);
}

void showInWindow(const std::string& windowName, const cv::Mat& image)
{
    const auto show = reinterpret_cast<ShowImageFunction>(pluginFunction(kDisplayPlugin, kShowImageSymbol));
    show(windowName.c_str(), &image);
}

bool openAndCloseWindow(const std::string& windowName)
{
    const auto open = reinterpret_cast<OpenWindowFunction>(pluginFunction(kDisplayPlugin, kOpenWindowSymbol));
    return open(windowName.c_str());
}
