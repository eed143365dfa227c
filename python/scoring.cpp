#include "scoring.h"

#include "camera_argument.h"
#include "driver/disparity.h"
#include "driver/settings.h"
#include "numpy_images.h"

namespace py = pybind11;

namespace {

// The argument names of score(), in the order of the command line's inputs.
const char* const kImageNames[6] = {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"};

void adoptCameraAndSize(const Camera& camera, const cv::Size& size)
{
    CallSettings settings = camera.values;
    settings.imageWidth = size.width;
    settings.imageHeight = size.height;
    adoptCallSettings(settings);
}

py::dict viewMaps(const ViewDetails& details)
{
    py::dict maps;
    maps["matSelfSim"] = floatMapArray(details.matSelfSim);
    maps["matInvadSim"] = floatMapArray(details.matInvadSim);
    maps["matSelfWeight"] = floatMapArray(details.matSelfWeight);
    maps["matInvadWeight"] = floatMapArray(details.matInvadWeight);
    maps["matValidSelf"] = floatMapArray(details.matValidSelf);
    maps["matValidInvad"] = floatMapArray(details.matValidInvad);
    return maps;
}

} // namespace

PairOutput scoreArrays(const std::array<py::handle, 6>& images, py::handle camera)
{
    // The camera first, as the command line reads its camera file first.
    const Camera cameraValues = cameraArgument(camera);

    std::array<ArrayImage, 6> arrays;
    PairImages pair;
    cv::Mat* const targets[6] = {&pair.viewLeft,    &pair.viewRight,  &pair.depthLeftA,
                                 &pair.depthRightA, &pair.depthLeftB, &pair.depthRightB};
    for (int i = 0; i < 6; ++i) {
        arrays[i] = greyImageArgument(images[i], std::string(kImageNames[i]) + " (" + inputRole(i) + ")");
        const std::string problem = imageSizeProblem(arrays[i].mat.size(), arrays[0].mat.size());
        if (!problem.empty())
            failInput(kImageNames[i], i, problem);
        *targets[i] = arrays[i].mat;
    }

    PairResult result;
    {
        py::gil_scoped_release unlocked;
        adoptCameraAndSize(cameraValues, pair.viewLeft.size());
        checkComparablePixels(pair, "camera");
        result = scorePair(pair);
    }
    return {result.score, {result.left}, {result.right}};
}

ViewOutput evaluateViewArrays(py::handle view, py::handle dispA, py::handle dispB, bool keepMaps)
{
    const ArrayImage maps[3] = {floatMapArgument(view, "view"), floatMapArgument(dispA, "disp_a"),
                                floatMapArgument(dispB, "disp_b")};
    const char* const names[3] = {"view", "disp_a", "disp_b"};
    const cv::Size size = maps[0].mat.size();
    for (int i = 0; i < 3; ++i) {
        const std::string problem = imageSizeProblem(maps[i].mat.size(), size, "the view");
        if (!problem.empty())
            throw py::value_error(std::string(names[i]) + ": " + problem);
    }

    ViewDetails details;
    details.keepMaps = keepMaps;
    ViewOutput output;
    {
        py::gil_scoped_release unlocked;
        g_imageWidth = size.width;
        g_imageHeight = size.height;
        output.result.error = evaluateView(maps[0].mat, maps[1].mat, maps[2].mat, &details);
    }
    output.result.countedPixels = details.countedTerms;
    output.result.disagreeingPixels = details.disagreeingPixels;
    if (keepMaps)
        output.maps = viewMaps(details);
    return output;
}

py::array_t<float> depthToDisparityArray(py::handle depth, py::handle camera, const std::string& side)
{
    if (side != "L" && side != "R")
        throw py::value_error("side: is '" + side + "'; it must be 'L' (the left camera) or 'R' (the right camera)");
    const Camera cameraValues = cameraArgument(camera);
    const ArrayImage depthMap = greyImageArgument(depth, "depth");

    cv::Mat disparity;
    {
        py::gil_scoped_release unlocked;
        adoptCameraAndSize(cameraValues, depthMap.mat.size());
        depthToDisparity(depthMap.mat, disparity, side[0]);
    }
    return floatMapArray(disparity);
}
