#pragma once

#include <opencv2/core.hpp>

#include <string>

// The windows of --show-maps, through the display plugin, which is loaded on
// first use. Both throw PluginError when it cannot be loaded.

// Loads the plugin now.
void loadWindowPlugin();

// Shows image in the window named windowName and waits for a key.
void showInWindow(const std::string& windowName, const cv::Mat& image);

// Opens a window named windowName and closes it again; false when the image
// library cannot.
bool openAndCloseWindow(const std::string& windowName);
