#pragma once

#include <opencv2/core.hpp>

#include <string>

// Writes an 8-bit image with one channel (grey) or three (blue, green, red,
// as OpenCV orders them) as a PNG file, byte for byte as cv::imwrite does.
// False when the file cannot be written.
bool writePng(const std::string& path, const cv::Mat& image);
