#include "metric/evaluate_view.h"

#include "metric/depth_rows.h"
#include "metric/disparity_differences.h"
#include "metric/edge_strength.h"
#include "metric/float_maps.h"
#include "metric/phase_report.h"
#include "metric/similarity_search.h"
#include "metric/view_pass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace morvex {
namespace detail {

namespace {

cv::Mat sobelKernelX()
{
    cv::Mat matKernelX = cv::Mat::zeros(3, 3, CV_32F);
    matKernelX.at<float>(0, 0) = -1.0f;
    matKernelX.at<float>(1, 0) = -2.0f;
    matKernelX.at<float>(2, 0) = -1.0f;
    matKernelX.at<float>(0, 2) = 1.0f;
    matKernelX.at<float>(1, 2) = 2.0f;
    matKernelX.at<float>(2, 2) = 1.0f;
    return matKernelX;
}

// exp(-n) for n = 0..5: the weight of a sample whose arrival column lies n
// columns from the target.
cv::Mat expWeightTable()
{
    cv::Mat matExpWeight = cv::Mat::zeros(6, 1, CV_32F);
    for (int i = 0; i < 6; ++i)
        matExpWeight.at<float>(i, 0) = std::exp(-static_cast<float>(i));
    return matExpWeight;
}

RowReader floatRows(const cv::Mat& map)
{
    return [&map](int r, const std::vector<int>& columns, float* out) {
        const float* in = map.ptr<float>(r);
        for (int c : columns)
            out[c] = in[c];
    };
}

RowReader byteRows(const cv::Mat& image)
{
    return [&image](int r, const std::vector<int>& columns, float* out) {
        const uint8_t* in = image.ptr<uint8_t>(r);
        for (int c : columns)
            out[c] = in[c];
    };
}

RowReader depthRows(const cv::Mat& depth, const float* disparity)
{
    return [&depth, disparity](int r, const std::vector<int>& columns, float* out) {
        const uint8_t* in = depth.ptr<uint8_t>(r);
        for (int c : columns)
            out[c] = disparity[in[c]];
    };
}

ValueRange magnitudeRange(const cv::Mat& disparities)
{
    ValueRange range;
    std::vector<float> magnitudes(disparities.cols);
    for (int r = 0; r < disparities.rows; ++r) {
        const float* in = disparities.ptr<float>(r);
        for (int c = 0; c < disparities.cols; ++c)
            magnitudes[c] = std::fabs(in[c]);
        includeRow(range, magnitudes.data(), disparities.cols);
    }
    return range;
}

// Which of the 256 depth values occur in a map.
std::array<bool, 256> depthValuesPresent(const cv::Mat& depth)
{
    std::array<bool, 256> present{};
    for (int r = 0; r < depth.rows; ++r) {
        const uint8_t* in = depth.ptr<uint8_t>(r);
        for (int c = 0; c < depth.cols; ++c)
            present[in[c]] = true;
    }
    return present;
}

// The smallest and largest depth value of a map.
std::pair<int, int> depthValueBounds(const cv::Mat& depth)
{
    uint8_t lo = 255;
    uint8_t hi = 0;
    for (int r = 0; r < depth.rows; ++r) {
        const uint8_t* in = depth.ptr<uint8_t>(r);
        for (int c = 0; c < depth.cols; ++c) {
            lo = std::min(lo, in[c]);
            hi = std::max(hi, in[c]);
        }
    }
    return {lo, hi};
}

// The range of |disparity| over the depth values that occur in a map. The
// smallest and largest depth value occur; when |disparity| is monotonic
// between them (the disparity keeps its sign), they bound it, and the other
// values need not be looked for.
ValueRange depthMagnitudeRange(const cv::Mat& depth, const std::array<float, 256>& disparity)
{
    const auto [lo, hi] = depthValueBounds(depth);
    bool rising = true;
    bool falling = true;
    for (int v = lo; v < hi; ++v) {
        rising = rising && std::fabs(disparity[v]) <= std::fabs(disparity[v + 1]);
        falling = falling && std::fabs(disparity[v]) >= std::fabs(disparity[v + 1]);
    }
    ValueRange range;
    if (rising || falling) {
        range.include(std::fabs(disparity[lo]));
        range.include(std::fabs(disparity[hi]));
        return range;
    }
    const std::array<bool, 256> present = depthValuesPresent(depth);
    for (int v = 0; v < 256; ++v)
        if (present[v])
            range.include(std::fabs(disparity[v]));
    return range;
}

std::array<float, 256> normalizedMagnitudes(const std::array<float, 256>& disparity, const ValueRange& range)
{
    std::array<float, 256> magnitude;
    for (int v = 0; v < 256; ++v)
        magnitude[v] = range.normalized(std::fabs(disparity[v]));
    return magnitude;
}

bool smallDisparities(const std::array<float, 256>& disparity)
{
    return std::all_of(disparity.begin(), disparity.end(),
                       [](float d) { return d >= -kSmallDisparity && d <= kSmallDisparity; });
}

void showMap(const ViewOptions& options, const cv::Mat& map, const char* windowName, bool autoRange)
{
    if (options.showMap)
        options.showMap(map, windowName, autoRange);
}

// The phases after Preparation: feature maps, the pass over the rows, and
// the reports and displays of the maps.
template <class Disparities>
ViewResult finishView(PhaseReport& phases, const cv::Mat& view, const RowReader& viewRows,
                      const RowReader& dispARows, const Disparities& disparities, const ViewOptions& options)
{
    const cv::Mat matKernelX = sobelKernelX();
    const cv::Mat matKernelY = matKernelX.t();
    const cv::Mat matExpWeight = expWeightTable();

    phases.next("Self Similarity");
    const cv::Size size = view.size();
    const EdgeStrength gradView = edgeStrength(viewRows, size, matKernelX, matKernelY, options.vectorCode);
    const EdgeStrength gradDisp = edgeStrength(dispARows, size, matKernelX, matKernelY, options.vectorCode);
    const bool wantMaps = options.showMap || options.keepMaps;
    morvex::ViewMaps maps;
    const ViewPassInputs inputs{view, &gradView, &gradDisp, matExpWeight.ptr<float>(0), options.vectorCode};
    const ViewPassResult pass = runViewPass(inputs, disparities, wantMaps ? &maps : nullptr);
    showMap(options, maps.matSelfSim, "matSelfSim", false);
    showMap(options, maps.matInvadSim, "matInvadSim", false);

    phases.next("Weighting");
    phases.next("Pooling");
    showMap(options, maps.matSelfSim, "matSelfSim", false);
    showMap(options, maps.matInvadSim, "matInvadSim", false);
    showMap(options, maps.matSelfWeight, "matSelfWeight", true);
    showMap(options, maps.matInvadWeight, "matInvadWeight", true);
    phases.end();

    ViewResult result;
    result.error = pass.error;
    result.countedPixels = pass.countedTerms;
    result.disagreeingPixels = pass.disagreeingPixels;
    if (options.keepMaps)
        result.maps = maps;
    return result;
}

} // namespace

ViewResult evaluateDepthView(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB,
                             const DepthConversion& conversion, const ViewOptions& options)
{
    PhaseReport phases(options.phaseLines);
    phases.begin("Preparation");
    const std::array<float, 256>& disparity = conversion.disparity;
    std::array<int32_t, 256> truncated;
    for (int v = 0; v < 256; ++v)
        truncated[v] = static_cast<int32_t>(truncateDisparity(disparity[v]));
    const ValueRange rangeA = depthMagnitudeRange(depthA, disparity);
    const ValueRange rangeB = depthMagnitudeRange(depthB, disparity);
    const std::array<float, 256> magnitudeA = normalizedMagnitudes(disparity, rangeA);
    const std::array<float, 256> magnitudeB = normalizedMagnitudes(disparity, rangeB);
    const DepthDisparities disparities{depthA,
                                       depthB,
                                       disparity.data(),
                                       static_cast<float>(conversion.scale),
                                       static_cast<float>(conversion.offset),
                                       truncated.data(),
                                       magnitudeA.data(),
                                       magnitudeB.data(),
                                       rangeA,
                                       rangeB,
                                       smallDisparities(disparity)};
    ViewResult result =
        finishView(phases, view, byteRows(view), depthRows(depthA, disparity.data()), disparities, options);
    if (options.disparityErrors)
        countDepthDifferences(depthA, depthB, disparity, result);
    return result;
}

} // namespace detail

ViewResult evaluateView(const cv::Mat& viewArgument, const cv::Mat& dispAArgument, const cv::Mat& dispBArgument,
                        const ViewOptions& options)
{
    using namespace detail;
    const cv::Mat* const arguments[] = {&viewArgument, &dispAArgument, &dispBArgument};
    const char* const names[] = {"view", "dispA", "dispB"};
    cv::Mat maps[3];
    for (int i = 0; i < 3; ++i) {
        if (arguments[i]->type() != CV_32FC1)
            throw Error(Input::None, std::string(names[i]) + ": is not a single-channel float map (CV_32FC1)");
        const std::string problem = imageSizeProblem(arguments[i]->size(), viewArgument.size(), "the view");
        if (!problem.empty())
            throw Error(Input::None, std::string(names[i]) + ": " + problem);
        maps[i] = floatsInPlace(*arguments[i]);
        checkValues(maps[i], names[i]);
    }
    const cv::Mat& view = maps[0];
    const cv::Mat& dispA = maps[1];
    const cv::Mat& dispB = maps[2];
    PhaseReport phases(options.phaseLines);
    phases.begin("Preparation");
    const FloatDisparities disparities{dispA, dispB, magnitudeRange(dispA), magnitudeRange(dispB)};
    ViewResult result = finishView(phases, view, floatRows(view), floatRows(dispA), disparities, options);
    if (options.disparityErrors)
        countDisparityDifferences(dispA, dispB, result);
    return result;
}

} // namespace morvex
