#include "reference/reference.h"

#include "driver/camera.h"
#include "driver/settings.h"

namespace reference {

void depthToDisparity(cv::Mat src, cv::Mat& dst, char side)
{
    cv::Mat depthF, dispF, dispI;
    src.convertTo(depthF, CV_32F, 1.0, 0.0);

    const bool left = side == 'L';
    const float nearDepth = left ? g_nearDepthLeft : g_nearDepthRight;
    const float farDepth = left ? g_farDepthLeft : g_farDepthRight;
    const float baseline = left ? g_baselineLeft : g_baselineRight;
    const float shift = (g_principalPointRight + g_principalPointLeft) * g_half -
                        (left ? g_principalPointLeft : g_principalPointRight);
    const float invFar = g_peakValue / farDepth;
    const float span = g_peakValue / nearDepth - invFar;
    const float gain = g_focalLength * baseline;

    // The matrix expression gain * (depthF / 255.0 * span + invFar) + shift
    // comes down to one scale and one offset, formed in double in this order,
    // and a convertTo of depthF with them. That convertTo applies them with a
    // fused multiply-add where OpenCV dispatches to AVX2, which moves a
    // disparity within a rounding of a half pixel to the other whole pixel.
    // Here the product and the sum are rounded to float one after the other,
    // as OpenCV's code without FMA does.
    const double scale = (1.0 / 255.0) * static_cast<double>(span) * static_cast<double>(gain);
    const double offset = static_cast<double>(invFar) * static_cast<double>(gain) + static_cast<double>(shift);
    const float scaleF = static_cast<float>(scale);
    const float offsetF = static_cast<float>(offset);
    dispF.create(src.rows, src.cols, CV_32F);
    for (int r = 0; r < src.rows; ++r) {
        const float* depth = depthF.ptr<float>(r);
        float* disparity = dispF.ptr<float>(r);
        for (int c = 0; c < src.cols; ++c) {
            const float product = depth[c] * scaleF;
            disparity[c] = product + offsetF;
        }
    }
    dispF.convertTo(dispI, CV_32S, 1.0, 0.0);
    dispI.convertTo(dst, CV_32F, 1.0, 0.0);
}

} // namespace reference
