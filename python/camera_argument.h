#pragma once

// The camera of a stereo pair as a Python value.

#include "driver/call_settings.h"

#include <pybind11/pybind11.h>

#include <array>
#include <string>

// The nine camera values and the three derived from them, checked. The image
// size in `values` is not part of the camera; each computation sets its own.
struct Camera {
    CallSettings values;
};

// The nine values in camera-file order, with their Python names.
struct CameraField {
    const char* name;
    float CallSettings::*member;
};
extern const std::array<CameraField, 9> kCameraFields;

// Raises ValueError, naming `label` as the camera file, unless the values
// are finite, the depths above 0 and the baselines computable.
Camera cameraFromValues(const std::array<float, 9>& values, const std::string& label);

// Reads and checks a camera file as the command line does.
Camera cameraFromFile(const std::string& path);

// A camera argument: a Camera, the path of a camera file (str or path-like),
// or a sequence of the nine numbers.
Camera cameraArgument(pybind11::handle argument);
