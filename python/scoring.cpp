#include "scoring.h"

#include "camera_argument.h"
#include "input_error.h"
#include "numpy_images.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace py = pybind11;

namespace {

// The argument names of score(), in the order of the command line's inputs.
const char* const kArgumentNames[7] = {"left",         "right",         "depth_left_a", "depth_right_a",
                                       "depth_left_b", "depth_right_b", "camera"};

py::dict viewMaps(const morvex::ViewMaps& m)
{
    py::dict maps;
    maps["matSelfSim"] = floatMapArray(m.matSelfSim);
    maps["matInvadSim"] = floatMapArray(m.matInvadSim);
    maps["matSelfWeight"] = floatMapArray(m.matSelfWeight);
    maps["matInvadWeight"] = floatMapArray(m.matInvadWeight);
    maps["matValidSelf"] = floatMapArray(m.matValidSelf);
    maps["matValidInvad"] = floatMapArray(m.matValidInvad);
    return maps;
}

// A depth map saved as colour, its red, green and blue equal (as many tools
// save grey), as its first channel; a colour-mapped one is refused, as the
// command line refuses it.
py::object greyDepthMap(py::handle argument, int index)
{
    if (!py::isinstance<py::array_t<uint8_t>>(argument))
        return py::reinterpret_borrow<py::object>(argument);
    const auto array = py::reinterpret_borrow<py::array>(argument);
    if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))
        return array;
    const auto channel = [&](int k) { return array[py::make_tuple(py::ellipsis(), k)]; };
    const py::object equal = py::module_::import("numpy").attr("array_equal");
    if (!equal(channel(0), channel(1)).cast<bool>() || !equal(channel(0), channel(2)).cast<bool>())
        throwArgumentError(kArgumentNames[index], static_cast<morvex::Input>(index),
                           "is a colour image whose red, green and blue differ (a colour-mapped picture?); a depth "
                           "map must be grey: one channel, or three or four whose colours are equal in every pixel");
    return channel(0);
}

} // namespace

PairOutput pairOutput(morvex::PairResult& result, bool keepMaps, bool warn)
{
    if (warn && !result.warning().empty())
        if (PyErr_WarnEx(PyExc_UserWarning, result.warning().c_str(), 1) != 0)
            throw py::error_already_set(); // warnings turned into errors
    PairOutput output{result.score, {result.left}, {result.right}, result.warning()};
    for (ViewOutput* view : {&output.left, &output.right}) {
        if (keepMaps)
            view->maps = viewMaps(view->result.maps);
        view->result.maps = {};
    }
    return output;
}

PairOutput scoreArrays(const std::array<py::handle, 6>& images, py::handle camera, bool keepMaps)
{
    // The camera first, as the command line reads its camera file first.
    const morvex::Camera cameraValues = cameraArgument(camera);

    std::array<ArrayImage, 6> arrays;
    for (int i = 0; i < 6; ++i) {
        const std::string label =
            std::string(kArgumentNames[i]) + " (" + morvex::inputRole(static_cast<morvex::Input>(i)) + ")";
        arrays[i] = greyImageArgument(i >= 2 ? greyDepthMap(images[i], i) : images[i], label);
    }
    const morvex::PairImages pair{arrays[0].mat, arrays[1].mat, arrays[2].mat,
                                  arrays[3].mat, arrays[4].mat, arrays[5].mat};
    morvex::PairOptions options;
    options.view.disparityErrors = true; // Python's results carry them
    options.view.keepMaps = keepMaps;
    morvex::PairResult result;
    try {
        py::gil_scoped_release unlocked;
        result = morvex::score(pair, cameraValues, options);
    } catch (const morvex::Error& e) {
        if (e.input() == morvex::Input::None)
            throw;
        throwArgumentError(kArgumentNames[static_cast<int>(e.input())], e.input(), e.problem());
    }
    return pairOutput(result, keepMaps, true);
}

py::array_t<uint8_t> errorHeatmapArray(py::handle view, py::handle maps, float top)
{
    const ArrayImage image = greyImageArgument(view, "view");
    if (!py::isinstance<py::dict>(maps))
        throw py::type_error("maps: is a " + typeName(maps) + "; give the maps dict of a result scored with maps=True");
    const auto dict = py::reinterpret_borrow<py::dict>(maps);
    std::vector<ArrayImage> held;
    morvex::ViewMaps viewMaps;
    const std::pair<const char*, cv::Mat*> names[] = {
        {"matSelfSim", &viewMaps.matSelfSim},         {"matInvadSim", &viewMaps.matInvadSim},
        {"matSelfWeight", &viewMaps.matSelfWeight},   {"matInvadWeight", &viewMaps.matInvadWeight},
        {"matValidSelf", &viewMaps.matValidSelf},     {"matValidInvad", &viewMaps.matValidInvad}};
    for (const auto& [name, mat] : names) {
        if (!dict.contains(name))
            throw py::value_error(std::string("maps: lacks ") + name + "; give the maps dict of a result scored "
                                                                         "with maps=True");
        held.push_back(floatMapArgument(dict[name], std::string("maps['") + name + "']"));
        *mat = held.back().mat;
        if (mat->size() != image.mat.size())
            throw py::value_error(std::string("maps['") + name + "']: " +
                                  morvex::imageSizeProblem(mat->size(), image.mat.size(), "the view"));
    }
    cv::Mat heatmap;
    {
        py::gil_scoped_release unlocked;
        heatmap = morvex::errorHeatmap(image.mat, viewMaps, top);
        cv::cvtColor(heatmap, heatmap, cv::COLOR_BGR2RGB);
    }
    return imageArray(heatmap);
}

ViewOutput evaluateViewArrays(py::handle view, py::handle dispA, py::handle dispB, bool keepMaps)
{
    const ArrayImage maps[3] = {floatMapArgument(view, "view"), floatMapArgument(dispA, "disp_a"),
                                floatMapArgument(dispB, "disp_b")};
    const char* const names[3] = {"view", "disp_a", "disp_b"};
    for (int i = 0; i < 3; ++i) {
        const std::string problem = morvex::imageSizeProblem(maps[i].mat.size(), maps[0].mat.size(), "the view");
        if (!problem.empty())
            throwInputError(std::string(names[i]) + ": " + problem, morvex::Input::None, "", problem);
    }

    morvex::ViewOptions options;
    options.keepMaps = keepMaps;
    options.disparityErrors = true;
    ViewOutput output;
    try {
        py::gil_scoped_release unlocked;
        output.result = morvex::evaluateView(maps[0].mat, maps[1].mat, maps[2].mat, options);
    } catch (const morvex::Error& e) {
        // The library names the maps as its C++ arguments are named.
        std::string message = e.what();
        for (const char* const cxx : {"dispA: ", "dispB: "})
            if (message.rfind(cxx, 0) == 0)
                message = (cxx[4] == 'A' ? "disp_a: " : "disp_b: ") + message.substr(7);
        throwInputError(message, morvex::Input::None, "", message.substr(message.find(": ") + 2));
    }
    if (keepMaps)
        output.maps = viewMaps(output.result.maps);
    output.result.maps = {};
    return output;
}

static char sideArgument(const std::string& side)
{
    if (side != "L" && side != "R")
        throw py::value_error("side: is '" + side + "'; it must be 'L' (the left camera) or 'R' (the right camera)");
    return side[0];
}

py::array_t<float> depthToDisparityArray(py::handle depth, py::handle camera, const std::string& side)
{
    const char cameraSide = sideArgument(side);
    const morvex::Camera cameraValues = cameraArgument(camera);
    const ArrayImage depthMap = greyImageArgument(depth, "depth");

    cv::Mat disparity;
    {
        py::gil_scoped_release unlocked;
        disparity = morvex::depthToDisparity(depthMap.mat, cameraValues, cameraSide);
    }
    return floatMapArray(disparity);
}

py::array_t<uint8_t> disparityToDepthArray(py::handle disparity, py::handle camera, const std::string& side)
{
    const char cameraSide = sideArgument(side);
    const morvex::Camera cameraValues = cameraArgument(camera);
    const ArrayImage disparityMap = floatMapArgument(disparity, "disparity");

    cv::Mat depth;
    {
        py::gil_scoped_release unlocked;
        depth = morvex::disparityToDepth(disparityMap.mat, cameraValues, cameraSide);
    }
    py::array_t<uint8_t> result({depth.rows, depth.cols});
    for (int r = 0; r < depth.rows; ++r)
        std::copy(depth.ptr<uint8_t>(r), depth.ptr<uint8_t>(r) + depth.cols, result.mutable_data(r, 0));
    return result;
}
