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

    dispF = static_cast<double>(gain) *
                (depthF / 255.0 * static_cast<double>(span) + cv::Scalar(static_cast<double>(invFar), 0, 0, 0)) +
            cv::Scalar(static_cast<double>(shift), 0, 0, 0);
    dispF.convertTo(dispI, CV_32S, 1.0, 0.0);
    dispI.convertTo(dst, CV_32F, 1.0, 0.0);
}

} // namespace reference
