#pragma once

// numpy arrays as the images and maps of the metric.

#include <opencv2/core.hpp>
#include <pybind11/numpy.h>

#include <string>

// A 2-D numpy array seen as a cv::Mat. The Mat shares the array's pixels when
// its rows are laid out as a cv::Mat's can be (elements side by side, rows
// at a fixed step); otherwise it shares a C-contiguous copy. `pixels` keeps
// whichever array the Mat points into alive.
struct ArrayImage {
    cv::Mat mat;
    pybind11::array pixels;
};

// An 8-bit grey image: a 2-D uint8 array. `label` names the argument in
// messages. Raises TypeError for what is not a numpy array or has another
// element type, ValueError for another number of dimensions.
ArrayImage greyImageArgument(pybind11::handle argument, const std::string& label);

// A float map (a view as grey values 0..255, or disparities): a 2-D float32
// array, checked as greyImageArgument checks.
ArrayImage floatMapArgument(pybind11::handle argument, const std::string& label);

// The name of an argument's Python type, for messages: "list", "float".
std::string typeName(pybind11::handle argument);

// A float map as a numpy array that shares its pixels and keeps them alive.
pybind11::array_t<float> floatMapArray(const cv::Mat& map);

// An 8-bit image (one channel, or three as rows, columns, channels) as a
// numpy array that shares its pixels and keeps them alive.
pybind11::array_t<uint8_t> imageArray(const cv::Mat& image);
