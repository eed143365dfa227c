#include "camera_argument.h"

#include "input_error.h"
#include "numpy_images.h"

#include <pybind11/stl/filesystem.h>

namespace py = pybind11;

const std::array<CameraField, 9> kCameraFields = {{
    {"near_depth_left", &morvex::Camera::nearDepthLeft},
    {"far_depth_left", &morvex::Camera::farDepthLeft},
    {"near_depth_right", &morvex::Camera::nearDepthRight},
    {"far_depth_right", &morvex::Camera::farDepthRight},
    {"focal_length", &morvex::Camera::focalLength},
    {"principal_point_left", &morvex::Camera::principalPointLeft},
    {"principal_point_right", &morvex::Camera::principalPointRight},
    {"position_left", &morvex::Camera::cameraPosLeft},
    {"position_right", &morvex::Camera::cameraPosRight},
}};

morvex::Camera cameraFromValues(const std::vector<float>& values, const std::string& label)
{
    try {
        return morvex::Camera::fromValues(values);
    } catch (const morvex::Error& e) {
        throwArgumentError(label, morvex::Input::CameraFile, e.problem());
    }
}

morvex::Camera cameraArgument(py::handle argument)
{
    const char* const label = "camera";
    if (py::isinstance<morvex::Camera>(argument))
        return argument.cast<morvex::Camera>();
    if (py::isinstance<py::str>(argument) || py::isinstance<py::bytes>(argument) || py::hasattr(argument, "__fspath__"))
        return morvex::Camera::fromFile(argument.cast<std::filesystem::path>().string());
    if (!py::isinstance<py::sequence>(argument))
        throw py::type_error(std::string(label) + ": is a " + typeName(argument) +
                             "; give a morvex.Camera, the path of a camera file or the nine camera values");
    const auto sequence = py::reinterpret_borrow<py::sequence>(argument);
    std::vector<float> values(sequence.size());
    for (std::size_t i = 0; i < values.size() && values.size() == kCameraFields.size(); ++i) {
        const py::object item = sequence[i];
        try {
            values[i] = item.cast<float>();
        } catch (const py::cast_error&) {
            throw py::type_error(std::string(label) + ": " + kCameraFields[i].name + " is a " + typeName(item) +
                                 ", not a number");
        }
    }
    return cameraFromValues(values, label);
}
