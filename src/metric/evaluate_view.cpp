#include "metric/evaluate_view.h"

#include "driver/disparity.h"
#include "driver/settings.h"
#include "metric/error_maps.h"
#include "metric/feature_maps.h"
#include "metric/phase_report.h"
#include "metric/pooling.h"
#include "metric/show_map.h"
#include "metric/similarity_search.h"

#include <cmath>

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

long long countNonZero(const cv::Mat& map)
{
    long long count = 0;
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c)
            count += row[c] != 0.0f;
    }
    return count;
}

} // namespace

float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB)
{
    return evaluateView(view, dispA, dispB, nullptr);
}

float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB, ViewDetails* details)
{
    const cv::Size size(g_imageWidth, g_imageHeight);
    int phaseStart = 0;

    beginPhase(phaseStart, "Preparation");
    const cv::Mat matDispDiff = dispA - dispB;
    const cv::Mat matKernelX = sobelKernelX();
    const cv::Mat matKernelY = matKernelX.t();
    cv::Mat matValidSelf = cv::Mat::zeros(size, CV_32F);
    cv::Mat matValidInvad = cv::Mat::zeros(size, CV_32F);
    const cv::Mat matExpWeight = expWeightTable();

    nextPhase(phaseStart, "Self Similarity");
    cv::Mat matGradView, matGradDisp, matAbsDispA, matAbsDispB;
    computeFeatureMaps(view, dispA, dispB, matKernelX, matKernelY, matGradView, matGradDisp, matAbsDispA,
                       matAbsDispB);
    const cv::Mat matGradDispCopy = matGradDisp.clone();
    cv::Mat matViewSelf = view.clone();
    cv::Mat matViewInvad = view.clone();

    searchSimilarity(view, dispA, dispB, matDispDiff, matExpWeight, matGradDispCopy, matViewSelf, matViewInvad,
                     matValidSelf, matValidInvad);

    cv::Mat matSelfSim, matInvadSim;
    computeErrorMap(view, matViewSelf, matSelfSim);
    computeErrorMap(view, matViewInvad, matInvadSim);
    showMap(matSelfSim, "matSelfSim", false);
    showMap(matInvadSim, "matInvadSim", false);

    nextPhase(phaseStart, "Weighting");
    nextPhase(phaseStart, "Pooling");
    showMap(matSelfSim, "matSelfSim", false);
    showMap(matInvadSim, "matInvadSim", false);

    cv::Mat matSelfWeight, matInvadWeight;
    computeWeightMap(matGradView, matGradDisp, matAbsDispA, matSelfWeight);
    computeWeightMap(matGradView, matGradDisp, matAbsDispB, matInvadWeight);
    showMap(matSelfWeight, "matSelfWeight", true);
    showMap(matInvadWeight, "matInvadWeight", true);

    const PooledError pooled =
        poolErrors(matSelfSim, matSelfWeight, matValidSelf, matInvadSim, matInvadWeight, matValidInvad);
    endPhases(phaseStart);

    if (details != nullptr) {
        details->countedTerms = pooled.countedTerms;
        details->disagreeingPixels = countNonZero(matDispDiff);
        if (details->keepMaps) {
            details->matSelfSim = matSelfSim;
            details->matInvadSim = matInvadSim;
            details->matSelfWeight = matSelfWeight;
            details->matInvadWeight = matInvadWeight;
            details->matValidSelf = matValidSelf;
            details->matValidInvad = matValidInvad;
        }
    }
    return pooled.error;
}

float evaluateDepthView(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB, char side,
                        ViewDetails* details)
{
    cv::Mat viewF, dispA, dispB;
    view.convertTo(viewF, CV_32F, 1.0, 0.0);
    depthToDisparity(depthA, dispA, side);
    depthToDisparity(depthB, dispB, side);
    return evaluateView(viewF, dispA, dispB, details);
}
