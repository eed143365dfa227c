#include "core/depth_to_disparity.h"

#include "metric/float_maps.h"
#include "metric/settings.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace morvex {

using detail::g_half;
using detail::g_peakValue;

// The double as the float conversion rounds it, but kept inside the float
// range: a double beyond it has no defined conversion. Past the largest
// float, round to nearest gives the largest float up to half a step above
// it, and infinity from there.
static double withinFloatRange(double value)
{
    const double largest = std::numeric_limits<float>::max();
    const double halfStepAbove = largest + std::ldexp(1.0, 103);
    const double magnitude = std::fabs(value);
    if (!(magnitude > largest))
        return value;
    const double limited = magnitude >= halfStepAbove ? std::numeric_limits<double>::infinity() : largest;
    return std::copysign(limited, value);
}

DisparityMapping disparityMapping(const Camera& camera, char side)
{
    const bool left = side == 'L';
    const float nearDepth = left ? camera.nearDepthLeft : camera.nearDepthRight;
    const float farDepth = left ? camera.farDepthLeft : camera.farDepthRight;
    const float baseline = left ? camera.baselineLeft() : camera.baselineRight();
    const float ownPrincipalPoint = left ? camera.principalPointLeft : camera.principalPointRight;

    const float middlePrincipalPoint = (camera.principalPointRight + camera.principalPointLeft) * g_half;
    const float shift = middlePrincipalPoint - ownPrincipalPoint;
    const float invFar = g_peakValue / farDepth;
    const float invNear = g_peakValue / nearDepth;
    const float span = invNear - invFar;
    const float gain = camera.focalLength * baseline;

    // disparity = gain * (v / 255 * span + invFar) + shift, folded into one
    // scale and one offset in double, in this order.
    const double scale = (1.0 / 255.0) * static_cast<double>(span) * static_cast<double>(gain);
    const double offset = static_cast<double>(invFar) * static_cast<double>(gain) + static_cast<double>(shift);
    return {withinFloatRange(scale), withinFloatRange(offset)};
}

// Rounds half to even (the default rounding mode), saturating to the 32-bit
// range. NaN, which only absurd camera values produce, becomes INT32_MIN as in
// the processor's own conversion: its arrival column is then outside any row.
static int32_t roundToInt32(float value)
{
    if (std::isnan(value))
        return INT32_MIN;
    if (value >= 2147483647.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(std::nearbyint(value));
}

std::array<float, 256> disparityTable(const Camera& camera, char side)
{
    const DisparityMapping mapping = disparityMapping(camera, side);
    // The map is applied in single precision, one rounding after the product
    // and one after the sum, so no CPU's fused multiply-add changes it.
    const float scale = static_cast<float>(mapping.scale);
    const float offset = static_cast<float>(mapping.offset);
    std::array<float, 256> disparityOf;
    for (int v = 0; v < 256; ++v) {
        const float product = static_cast<float>(v) * scale;
        const float disparity = product + offset;
        disparityOf[v] = static_cast<float>(roundToInt32(disparity));
    }
    return disparityOf;
}

cv::Mat depthToDisparity(const cv::Mat& depth, const Camera& camera, char side)
{
    if (depth.type() != CV_8UC1)
        throw Error(Input::None, "a depth map must be 8-bit grey (CV_8UC1)");
    // An 8-bit depth has only 256 values: each is converted once.
    const std::array<float, 256> disparityOf = disparityTable(camera, side);
    cv::Mat disparity(depth.rows, depth.cols, CV_32F);
    for (int r = 0; r < depth.rows; ++r) {
        const uint8_t* in = depth.ptr<uint8_t>(r);
        float* out = disparity.ptr<float>(r);
        for (int c = 0; c < depth.cols; ++c)
            out[c] = disparityOf[in[c]];
    }
    return disparity;
}

cv::Mat disparityToDepth(const cv::Mat& disparityArgument, const Camera& camera, char side)
{
    if (disparityArgument.type() != CV_32FC1)
        throw Error(Input::None, "a disparity map must be 32-bit float (CV_32FC1)");
    const cv::Mat disparity = detail::floatsInPlace(disparityArgument);
    const DisparityMapping mapping = disparityMapping(camera, side);
    const float scale = static_cast<float>(mapping.scale);
    const float offset = static_cast<float>(mapping.offset);
    const std::array<float, 256> whole = disparityTable(camera, side);
    std::array<float, 256> exact;
    for (int v = 0; v < 256; ++v) {
        const float product = static_cast<float>(v) * scale;
        exact[v] = product + offset;
    }

    cv::Mat depth(disparity.rows, disparity.cols, CV_8U);
    for (int r = 0; r < disparity.rows; ++r) {
        const float* in = disparity.ptr<float>(r);
        uint8_t* out = depth.ptr<uint8_t>(r);
        for (int c = 0; c < disparity.cols; ++c) {
            // The nearest whole-pixel disparity first, then, of the values
            // that give it, the one whose exact disparity is nearest; ties go
            // to the lower value. NaN stays at value 0, the far depth.
            const double x = in[c];
            int best = 0;
            for (int v = 1; v < 256; ++v) {
                const double wholeGap = std::fabs(whole[v] - x), bestWholeGap = std::fabs(whole[best] - x);
                if (wholeGap < bestWholeGap ||
                    (wholeGap == bestWholeGap && std::fabs(exact[v] - x) < std::fabs(exact[best] - x)))
                    best = v;
            }
            out[c] = static_cast<uint8_t>(best);
        }
    }
    return depth;
}

detail::DepthConversion depthConversion(const Camera& camera, char side)
{
    const DisparityMapping mapping = disparityMapping(camera, side);
    return {disparityTable(camera, side), mapping.scale, mapping.offset};
}

} // namespace morvex
