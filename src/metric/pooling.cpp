#include "metric/pooling.h"

#include "driver/settings.h"

PooledError poolErrors(cv::Mat matSelfSim, cv::Mat matSelfWeight, cv::Mat matValidSelf, cv::Mat matInvadSim,
                       cv::Mat matInvadWeight, cv::Mat matValidInvad)
{
    double weightedErrorSum = 0.0;
    double weightSum = 0.0;
    long long counted = 0;
    for (int r = 0; r < g_imageHeight; ++r) {
        const float* selfSim = matSelfSim.ptr<float>(r);
        const float* selfWeight = matSelfWeight.ptr<float>(r);
        const float* validSelf = matValidSelf.ptr<float>(r);
        const float* invadSim = matInvadSim.ptr<float>(r);
        const float* invadWeight = matInvadWeight.ptr<float>(r);
        const float* validInvad = matValidInvad.ptr<float>(r);
        for (int c = 0; c < g_imageWidth; ++c) {
            if (validSelf[c] == g_peakValue) {
                const double w = selfWeight[c];
                weightSum += w;
                weightedErrorSum += static_cast<double>(selfSim[c]) * w;
                ++counted;
            }
            if (validInvad[c] == g_peakValue) {
                const double w = invadWeight[c];
                weightSum += w;
                weightedErrorSum += static_cast<double>(invadSim[c]) * w;
                ++counted;
            }
        }
    }
    return {static_cast<float>(weightedErrorSum / weightSum), counted};
}
