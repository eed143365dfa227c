// The Python module morvex: the score of depth maps on numpy arrays, the same
// number as the command line's for the same images.

#include "camera_argument.h"
#include "input_error.h"
#include "reading.h"
#include "scoring.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace py = pybind11;

using morvex::Camera;
using morvex::formatFloat;

namespace {

std::string cameraRepr(const Camera& camera)
{
    std::string text = "morvex.Camera(";
    for (const CameraField& field : kCameraFields)
        text += std::string(&field == &kCameraFields[0] ? "" : ", ") + field.name + "=" +
                formatFloat(camera.*field.member);
    return text + ")";
}

std::string viewRepr(const ViewOutput& view)
{
    return "morvex.ViewResult(error=" + formatFloat(view.result.error) +
           ", counted_pixels=" + std::to_string(view.result.countedPixels) +
           ", disagreeing_pixels=" + std::to_string(view.result.disagreeingPixels) + ")";
}

void bindCamera(py::module_& m)
{
    py::class_<Camera> camera(m, "Camera", R"(The nine camera values of a stereo pair, in camera-file order.

Camera(near_depth_left, far_depth_left, near_depth_right, far_depth_right,
       focal_length, principal_point_left, principal_point_right,
       position_left, position_right)

The values are kept as 32-bit floats, as the command line reads them, and are
checked as it checks a camera file (ValueError).)");
    camera.def(py::init([](float nearLeft, float farLeft, float nearRight, float farRight, float focal,
                           float principalLeft, float principalRight, float positionLeft, float positionRight) {
                   return cameraFromValues({nearLeft, farLeft, nearRight, farRight, focal, principalLeft,
                                            principalRight, positionLeft, positionRight},
                                           "camera");
               }),
               py::arg("near_depth_left"), py::arg("far_depth_left"), py::arg("near_depth_right"),
               py::arg("far_depth_right"), py::arg("focal_length"), py::arg("principal_point_left"),
               py::arg("principal_point_right"), py::arg("position_left"), py::arg("position_right"));
    camera.def_static(
        "from_file", [](const std::filesystem::path& path) { return Camera::fromFile(path.string()); }, py::arg("path"),
        "Reads a camera file: nine numbers separated by white space.");
    for (const CameraField& field : kCameraFields) {
        const auto member = field.member;
        camera.def_property_readonly(field.name, [member](const Camera& c) { return c.*member; });
    }
    camera.def("__repr__", &cameraRepr);
}

void bindResults(py::module_& m)
{
    py::class_<ViewOutput>(m, "ViewResult", "The result of one view.")
        .def_property_readonly(
            "error", [](const ViewOutput& v) { return v.result.error; },
            "The view's weighted mean squared error (0..1 grey scale), a 32-bit float.")
        .def_property_readonly(
            "counted_pixels", [](const ViewOutput& v) { return v.result.countedPixels; },
            "Error terms pooled: a pixel counts once for each of the two passes that compare it.")
        .def_property_readonly(
            "disagreeing_pixels", [](const ViewOutput& v) { return v.result.disagreeingPixels; },
            "Pixels whose disparities from set A and set B differ.")
        .def_property_readonly(
            "pixels", [](const ViewOutput& v) { return v.result.pixels; }, "Pixels of the view.")
        .def_property_readonly(
            "differ_over_1", [](const ViewOutput& v) { return v.result.differOver1; },
            "Pixels whose set-B disparity differs from set A's by more than 1 pixel.")
        .def_property_readonly(
            "differ_over_2", [](const ViewOutput& v) { return v.result.differOver2; },
            "Pixels whose set-B disparity differs from set A's by more than 2 pixels.")
        .def_property_readonly(
            "abs_difference_sum", [](const ViewOutput& v) { return v.result.absDifferenceSum; },
            "The sum over the pixels of |disparity B - disparity A|.")
        .def_property_readonly(
            "share_over_1", [](const ViewOutput& v) { return v.result.shareOver1(); },
            "differ_over_1 / pixels.")
        .def_property_readonly(
            "share_over_2", [](const ViewOutput& v) { return v.result.shareOver2(); },
            "differ_over_2 / pixels.")
        .def_property_readonly(
            "mean_abs_difference", [](const ViewOutput& v) { return v.result.meanAbsDifference(); },
            "abs_difference_sum / pixels: the mean absolute disparity difference.")
        .def_readonly("maps", &ViewOutput::maps,
                      "evaluate_view(..., maps=True): the maps pooled, as float32 arrays by name "
                      "(matSelfSim, matInvadSim, matSelfWeight, matInvadWeight, matValidSelf, "
                      "matValidInvad); otherwise None.")
        .def("__repr__", &viewRepr);

    py::class_<PairOutput>(m, "Result", "The result of a stereo pair, as morvex --json gives it.")
        .def_readonly("score", &PairOutput::score, "The score, a 32-bit float (inf when the sets agree).")
        .def_property_readonly(
            "score_text", [](const PairOutput& r) { return formatFloat(r.score); },
            "The score as the 'MORVEX Score:' line prints it.")
        .def_readonly("left", &PairOutput::left)
        .def_readonly("right", &PairOutput::right)
        .def_property_readonly(
            "warning",
            [](const PairOutput& r) { return r.warning.empty() ? py::object(py::none()) : py::str(r.warning); },
            "The command line's warning about the pair (differences of the depth maps that vanish in the "
            "whole-pixel disparities), or None.")
        .def("__repr__", [](const PairOutput& r) {
            return "morvex.Result(score=" + formatFloat(r.score) + ", left=" + viewRepr(r.left) +
                   ", right=" + viewRepr(r.right) + ")";
        });
}

void bindFunctions(py::module_& m)
{
    m.def(
        "score",
        [](py::handle left, py::handle right, py::handle depthLeftA, py::handle depthRightA, py::handle depthLeftB,
           py::handle depthRightB, py::handle camera, bool maps) {
            return scoreArrays({left, right, depthLeftA, depthRightA, depthLeftB, depthRightB}, camera, maps);
        },
        py::arg("left"), py::arg("right"), py::arg("depth_left_a"), py::arg("depth_right_a"), py::arg("depth_left_b"),
        py::arg("depth_right_b"), py::arg("camera"), py::arg("maps") = false,
        R"(Scores depth maps of a stereo pair: the six images as 2-D uint8 arrays of one
size (at least 8x8; a depth map may also have three or four equal colour
channels), the camera as a morvex.Camera, the path of a camera file
or the nine numbers. Returns a morvex.Result; with maps=True each view's maps
are kept (for morvex.error_heatmap). Raises morvex.InputError (a ValueError)
for input the command line would refuse, with its message, TypeError or
ValueError for arguments of the wrong kind, and warns (UserWarning) where the
command line warns.)");
    m.def("evaluate_view", &evaluateViewArrays, py::arg("view"), py::arg("disp_a"), py::arg("disp_b"),
          py::arg("maps") = false,
          R"(The metric of one view from float32 arrays of one size: the view's grey values
0..255 and its whole-pixel disparities of sets A and B. Returns a
morvex.ViewResult; its error is nan when no pixel could be compared
(counted_pixels 0). With maps=True its maps hold the error, weight and mark maps.)");
    m.def("error_heatmap", &errorHeatmapArray, py::arg("view"), py::arg("maps"), py::arg("top") = morvex::kHeatmapTop,
          R"(A view's heat map, as --save-maps writes it: the view (2-D uint8) in grey with
its weighted error in colour and a labelled colour bar below, from the maps of
its morvex.ViewResult scored with maps=True. `top` is the error given the top
colour (default 1/16, the same for every image; 0 takes the 95th percentile
of this view's errors). Returns an RGB uint8 array (rows, columns, 3).)");
    m.def("combine_view_errors", &morvex::combineViewErrors, py::arg("error_left"), py::arg("error_right"),
          R"(The score from two view errors, in 32-bit float arithmetic as the command line
forms it, also from the mean errors of a sequence's frames.)");
    m.def("depth_to_disparity", &depthToDisparityArray, py::arg("depth"), py::arg("camera"), py::arg("side"),
          R"(Turns a uint8 depth map (255 = near) of side 'L' or 'R' into whole-pixel
disparities towards the middle camera, as a float32 array.)");
    m.def("disparity_to_depth", &disparityToDepthArray, py::arg("disparity"), py::arg("camera"), py::arg("side"),
          R"(The inverse of depth_to_disparity: for a float32 disparity map of side 'L' or
'R' (an estimator's, say), the uint8 depth map whose whole-pixel disparities
are the nearest to it. Of the depth values that give that disparity, the one
whose unrounded disparity is nearest is taken; ties go to the lower value (the
farther depth), and nan gives 0.)");
}

} // namespace

PYBIND11_MODULE(_native, m)
{
    m.doc() = "The score of depth maps of a stereo pair, on numpy arrays.";
    m.attr("__version__") = morvex::version();
    bindInputError(m);
    bindCamera(m);
    bindResults(m);
    bindFunctions(m);
    bindReading(m);
}
