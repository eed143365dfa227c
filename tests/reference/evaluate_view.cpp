#include "reference/reference.h"

#include "driver/settings.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>

namespace reference {
namespace {

// T(): a disparity truncated toward zero. Disparities past the 32-bit range
// saturate and NaN gives INT32_MIN, and the columns computed from them are
// 64-bit, so that absurd disparities send a pixel far outside its row.
int64_t truncateDisparity(float value)
{
    if (std::isnan(value))
        return INT32_MIN;
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// A map without range (a uniform view, a single disparity) becomes 0 rather
// than 0 / 0.
void normalizeMinMax(cv::Mat& map)
{
    float lo = 1000000.0f;
    float hi = -1000000.0f;
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c) {
            if (lo > row[c])
                lo = row[c];
            if (row[c] > hi)
                hi = row[c];
        }
    }
    const float range = hi - lo;
    for (int r = 0; r < map.rows; ++r) {
        float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c)
            row[c] = hi == lo ? 0.0f : (row[c] - lo) / range;
    }
}

void gradientMagnitude(const cv::Mat& small, const cv::Mat& matKernelX, const cv::Mat& matKernelY, cv::Mat& matGradX,
                       cv::Mat& matGradY, cv::Mat& magnitude)
{
    cv::filter2D(small, matGradX, CV_32F, matKernelX, cv::Point(-1, -1), 0.0, cv::BORDER_DEFAULT);
    cv::filter2D(small, matGradY, CV_32F, matKernelY, cv::Point(-1, -1), 0.0, cv::BORDER_DEFAULT);
    cv::pow(matGradY, 2.0, matGradY);
    cv::pow(matGradX, 2.0, matGradX);
    cv::sqrt(matGradY + matGradX, magnitude);
}

int64_t clampColumn(int64_t column)
{
    return column < 0 ? 0 : (column > g_imageWidth - 1 ? g_imageWidth - 1 : column);
}

// Adds the window of columns around p, each weighted by how close its
// arrival column under `followed` lies to x.
void accumulate(const float* viewRow, const float* followed, const cv::Mat& matExpWeight, int64_t x, int64_t p,
                float& s1, float& s0)
{
    const int64_t first = p - g_searchRadius < 0 ? 0 : p - g_searchRadius;
    const int64_t end = p + g_searchRadius + 1 < g_imageWidth ? p + g_searchRadius + 1 : g_imageWidth;
    for (int64_t k = first; k < end; ++k) {
        const int64_t distance = x - (k + truncateDisparity(followed[k]));
        int64_t n = distance < 0 ? -distance : distance;
        if (n > 5)
            n = 5;
        const float w = matExpWeight.at<float>(static_cast<int>(n), 0);
        s1 = s1 + w * viewRow[k];
        s0 = s0 + w;
    }
}

// One pass at a pixel: looks for the pixel that `followed` sends to the
// arrival column x, from startColumn on, and writes the weighted mean of the
// intensities it visits into *result, and its mark.
void searchPass(const float* viewRow, const float* followed, const cv::Mat& matExpWeight, int64_t x,
                int64_t startColumn, bool onEdge, float* result, float* mark)
{
    if (x < 0 || x > g_imageWidth - 1)
        return;
    int64_t p = clampColumn(startColumn);
    int64_t y = p + truncateDisparity(followed[p]);
    float s1 = 0.0f;
    float s0 = 0.0f;
    accumulate(viewRow, followed, matExpWeight, x, p, s1, s0);
    for (int step = 0; step < g_searchSteps; ++step) {
        p = clampColumn(p + (x - y));
        y = p + truncateDisparity(followed[p]);
        accumulate(viewRow, followed, matExpWeight, x, p, s1, s0);
    }
    if (onEdge) {
        for (int step = 0; step < g_edgeSteps; ++step) {
            p = clampColumn(p + (x - y));
            y = p + truncateDisparity(followed[p]);
            accumulate(viewRow, followed, matExpWeight, x, p, s1, s0);
        }
    }
    *result = s1 / s0;
    *mark = 1.0f;
}

void searchSimilarity(cv::Mat view, cv::Mat dispA, cv::Mat dispB, cv::Mat matDispDiff, cv::Mat matExpWeight,
                      cv::Mat matGradDispCopy, cv::Mat& matViewSelf, cv::Mat& matViewInvad, cv::Mat& matValidSelf,
                      cv::Mat& matValidInvad)
{
    for (int i = 0; i < g_imageHeight; ++i) {
        const float* viewRow = view.ptr<float>(i);
        const float* rowA = dispA.ptr<float>(i);
        const float* rowB = dispB.ptr<float>(i);
        const float* diff = matDispDiff.ptr<float>(i);
        const float* edge = matGradDispCopy.ptr<float>(i);
        float* self = matViewSelf.ptr<float>(i);
        float* invad = matViewInvad.ptr<float>(i);
        float* validSelf = matValidSelf.ptr<float>(i);
        float* validInvad = matValidInvad.ptr<float>(i);
        for (int64_t j = 0; j < g_imageWidth; ++j) {
            const float d = diff[j];
            if (d == 0.0f) {
                const int64_t x = j + truncateDisparity(rowA[j]);
                if (x >= 0 && x <= g_imageWidth - 1) {
                    validSelf[j] = 1.0f;
                    validInvad[j] = 1.0f;
                }
                continue;
            }
            const bool onEdge = edge[j] > 0.1f;
            searchPass(viewRow, rowB, matExpWeight, j + truncateDisparity(rowA[j]), j + truncateDisparity(d), onEdge,
                       &self[j], &validSelf[j]);
            searchPass(viewRow, rowA, matExpWeight, j + truncateDisparity(rowB[j]), j - truncateDisparity(d), onEdge,
                       &invad[j], &validInvad[j]);
        }
    }
}

// ((view - synthesised) / 255.0)^2. The difference is taken exactly, in
// double, and rounded to float once after the division: OpenCV's matrix
// expression computes it with fused multiply-add on CPUs that have it and
// then leaves about 1e-34 where the two maps are equal.
void errorMap(const cv::Mat& view, const cv::Mat& synthesised, cv::Mat& errors)
{
    cv::Mat scaled(g_imageHeight, g_imageWidth, CV_32F);
    for (int r = 0; r < g_imageHeight; ++r) {
        const float* v = view.ptr<float>(r);
        const float* s = synthesised.ptr<float>(r);
        float* out = scaled.ptr<float>(r);
        for (int c = 0; c < g_imageWidth; ++c)
            out[c] = static_cast<float>((static_cast<double>(v[c]) - static_cast<double>(s[c])) / 255.0);
    }
    cv::pow(scaled, 2.0, errors);
}

} // namespace

float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB, ViewCounts* counts)
{
    // Preparation: the working maps and tables.
    cv::Mat matSelfSim = cv::Mat::ones(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matInvadSim = cv::Mat::ones(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matDispDiff = dispA - dispB;
    cv::Mat matKernelX = cv::Mat::zeros(3, 3, CV_32F);
    matKernelX.at<float>(0, 0) = -1.0f;
    matKernelX.at<float>(1, 0) = -2.0f;
    matKernelX.at<float>(2, 0) = -1.0f;
    matKernelX.at<float>(0, 2) = 1.0f;
    matKernelX.at<float>(1, 2) = 2.0f;
    matKernelX.at<float>(2, 2) = 1.0f;
    cv::Mat matKernelY = matKernelX.t();
    cv::Mat matSelfWeight = cv::Mat::zeros(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matInvadWeight = cv::Mat::zeros(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matValidSelf = cv::Mat::zeros(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matValidInvad = cv::Mat::zeros(g_imageHeight, g_imageWidth, CV_32F);
    cv::Mat matExpWeight = cv::Mat::zeros(6, 1, CV_32F);
    for (int i = 0; i < 6; ++i)
        matExpWeight.at<float>(i, 0) = expf(-static_cast<float>(i));

    // Feature maps: edge strengths at the reduced size, scaled back up, and
    // the disparity magnitudes, each normalised to 0..1.
    const cv::Size reducedSize(g_imageWidth / g_reduceFactor, g_imageHeight / g_reduceFactor);
    const cv::Size fullSize(g_imageWidth, g_imageHeight);
    cv::Mat matViewSmall, matDispSmall, matGradX, matGradY, matGradView, matGradDisp;
    cv::resize(view, matViewSmall, reducedSize, 0.0, 0.0, cv::INTER_LINEAR);
    cv::resize(dispA, matDispSmall, reducedSize, 0.0, 0.0, cv::INTER_LINEAR);
    gradientMagnitude(matViewSmall, matKernelX, matKernelY, matGradX, matGradY, matGradView);
    gradientMagnitude(matDispSmall, matKernelX, matKernelY, matGradX, matGradY, matGradDisp);
    cv::resize(matGradView, matGradView, fullSize, 0.0, 0.0, cv::INTER_LINEAR);
    cv::resize(matGradDisp, matGradDisp, fullSize, 0.0, 0.0, cv::INTER_LINEAR);
    cv::Mat matAbsDispA = cv::abs(dispA);
    cv::Mat matAbsDispB = cv::abs(dispB);
    normalizeMinMax(matGradView);
    normalizeMinMax(matGradDisp);
    normalizeMinMax(matAbsDispA);
    normalizeMinMax(matAbsDispB);
    cv::Mat matGradDispCopy, matViewSelf, matViewInvad;
    matGradDisp.copyTo(matGradDispCopy);
    view.copyTo(matViewSelf);
    view.copyTo(matViewInvad);

    searchSimilarity(view, dispA, dispB, matDispDiff, matExpWeight, matGradDispCopy, matViewSelf, matViewInvad,
                     matValidSelf, matValidInvad);

    errorMap(view, matViewSelf, matSelfSim);
    errorMap(view, matViewInvad, matInvadSim);

    const double dispShare = static_cast<double>(g_gradientMix);
    const double viewShare = static_cast<double>(1.0f - g_gradientMix);
    const cv::Scalar offset(static_cast<double>(g_weightOffset), 0, 0, 0);
    matSelfWeight = (viewShare * matGradView + dispShare * matGradDisp).mul(matAbsDispA, 1.0) + offset;
    matInvadWeight = (viewShare * matGradView + dispShare * matGradDisp).mul(matAbsDispB, 1.0) + offset;

    // Pooling over the marked pixels, in double.
    double weightedErrorSum = 0.0;
    double weightSum = 0.0;
    long long countedTerms = 0;
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
                ++countedTerms;
            }
            if (validInvad[c] == g_peakValue) {
                const double w = invadWeight[c];
                weightSum += w;
                weightedErrorSum += static_cast<double>(invadSim[c]) * w;
                ++countedTerms;
            }
        }
    }
    if (counts != nullptr) {
        counts->countedTerms = countedTerms;
        counts->disagreeingPixels = cv::countNonZero(matDispDiff);
    }
    return static_cast<float>(weightedErrorSum / weightSum);
}

} // namespace reference
