#include "camera_argument.h"

#include "driver/camera.h"
#include "driver/inputs.h"
#include "numpy_images.h"

#include <pybind11/stl/filesystem.h>

namespace py = pybind11;

const std::array<CameraField, 9> kCameraFields = {{
    {"near_depth_left", &CallSettings::nearDepthLeft},
    {"far_depth_left", &CallSettings::farDepthLeft},
    {"near_depth_right", &CallSettings::nearDepthRight},
    {"far_depth_right", &CallSettings::farDepthRight},
    {"focal_length", &CallSettings::focalLength},
    {"principal_point_left", &CallSettings::principalPointLeft},
    {"principal_point_right", &CallSettings::principalPointRight},
    {"position_left", &CallSettings::cameraPosLeft},
    {"position_right", &CallSettings::cameraPosRight},
}};

// The camera values are this thread's; they are set here only to derive and
// check them with the command line's code. Every computation sets its own.
Camera cameraFromValues(const std::array<float, 9>& values, const std::string& label)
{
    CallSettings settings = currentCallSettings();
    for (std::size_t i = 0; i < values.size(); ++i)
        settings.*kCameraFields[i].member = values[i];
    adoptCallSettings(settings);
    deriveCameraBaselines();
    checkCameraValues(label);
    return {currentCallSettings()};
}

Camera cameraFromFile(const std::string& path)
{
    loadCameraFile(path);
    return {currentCallSettings()};
}

Camera cameraArgument(py::handle argument)
{
    const char* const label = "camera";
    if (py::isinstance<Camera>(argument))
        return argument.cast<Camera>();
    if (py::isinstance<py::str>(argument) || py::isinstance<py::bytes>(argument) || py::hasattr(argument, "__fspath__"))
        return cameraFromFile(argument.cast<std::filesystem::path>().string());
    if (!py::isinstance<py::sequence>(argument))
        throw py::type_error(std::string(label) + ": is a " + typeName(argument) +
                             "; give a morvex.Camera, the path of a camera file or the nine camera values");
    const auto sequence = py::reinterpret_borrow<py::sequence>(argument);
    if (sequence.size() != 9)
        throw py::value_error(std::string(label) + " (" + inputRole(kCameraFile) +
                              "): " + cameraCountProblem(std::to_string(sequence.size()) + " were given"));
    std::array<float, 9> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
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
