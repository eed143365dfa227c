#pragma once

// The camera of a stereo pair as a Python value.

#include <morvex/morvex.h>
#include <pybind11/pybind11.h>

#include <array>
#include <string>
#include <vector>

// The nine values in camera-file order, with their Python names.
struct CameraField {
    const char* name;
    float morvex::Camera::*member;
};
extern const std::array<CameraField, 9> kCameraFields;

// Raises ValueError, naming `label` as the camera file, unless there are
// nine values, finite, the depths above 0 and the baselines computable.
morvex::Camera cameraFromValues(const std::vector<float>& values, const std::string& label);

// A camera argument: a morvex.Camera, the path of a camera file (str or
// path-like), or a sequence of the nine numbers.
morvex::Camera cameraArgument(pybind11::handle argument);

