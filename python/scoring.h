#pragma once

// The metric on numpy arrays: the computations behind the module's
// functions. Each checks its arguments with the Python interpreter held,
// then computes without it.

#include <morvex/morvex.h>
#include <pybind11/numpy.h>

#include <array>
#include <string>

// The result of one view; `maps` is a dict of its maps when they were asked
// for, else None.
struct ViewOutput {
    morvex::ViewResult result;
    pybind11::object maps = pybind11::none();
};

// The result of one stereo pair.
struct PairOutput {
    float score = 0.0f;
    ViewOutput left, right;
    std::string warning; // the command line's warning about the pair, or ""
};

// The score of a pair from its six 8-bit images (left, right, depth maps of
// the left and right view of set A, then of set B) and a camera argument;
// with keepMaps, each view's maps.
PairOutput scoreArrays(const std::array<pybind11::handle, 6>& images, pybind11::handle camera, bool keepMaps);

// A pair's result as Python sees it; with `warn`, also a UserWarning where
// the command line warns. With keepMaps, the views' maps become dicts of arrays.
PairOutput pairOutput(morvex::PairResult& result, bool keepMaps, bool warn);

// The heat map of a view (2-D uint8) from the maps dict of its result, as an
// RGB array (rows, columns, 3), the colour bar below.
pybind11::array_t<uint8_t> errorHeatmapArray(pybind11::handle view, pybind11::handle maps, float top);

// evaluateView on float32 maps; with keepMaps, the six maps it pools.
ViewOutput evaluateViewArrays(pybind11::handle view, pybind11::handle dispA, pybind11::handle dispB, bool keepMaps);

// depthToDisparity of a uint8 depth map with a camera argument, side "L" or "R".
pybind11::array_t<float> depthToDisparityArray(pybind11::handle depth, pybind11::handle camera,
                                               const std::string& side);

// disparityToDepth of a float32 disparity map with a camera argument, side "L" or "R".
pybind11::array_t<uint8_t> disparityToDepthArray(pybind11::handle disparity, pybind11::handle camera,
                                                 const std::string& side);
