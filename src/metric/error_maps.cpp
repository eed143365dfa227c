#include "metric/error_maps.h"

#include "driver/settings.h"

void computeErrorMap(cv::Mat view, cv::Mat synthesised, cv::Mat& errorMap)
{
    errorMap.create(g_imageHeight, g_imageWidth, CV_32F);
    for (int r = 0; r < g_imageHeight; ++r) {
        const float* v = view.ptr<float>(r);
        const float* s = synthesised.ptr<float>(r);
        float* e = errorMap.ptr<float>(r);
        for (int c = 0; c < g_imageWidth; ++c) {
            // The difference of two floats is exact in double, so equal
            // values give exactly 0 and the single rounding to float does
            // not depend on the CPU.
            const double difference = static_cast<double>(v[c]) - static_cast<double>(s[c]);
            const float scaled = static_cast<float>(difference / 255.0);
            e[c] = scaled * scaled;
        }
    }
}

void computeWeightMap(cv::Mat matGradView, cv::Mat matGradDisp, cv::Mat matAbsDisp, cv::Mat& weightMap)
{
    // The coefficients are the float settings widened to double; the mix of
    // the two edge strengths is formed in double (the products are exact
    // there) and rounded once to float.
    const double dispShare = static_cast<double>(g_gradientMix);
    const double viewShare = static_cast<double>(1.0f - g_gradientMix);
    const float offset = g_weightOffset;

    weightMap.create(g_imageHeight, g_imageWidth, CV_32F);
    for (int r = 0; r < g_imageHeight; ++r) {
        const float* gv = matGradView.ptr<float>(r);
        const float* gd = matGradDisp.ptr<float>(r);
        const float* a = matAbsDisp.ptr<float>(r);
        float* w = weightMap.ptr<float>(r);
        for (int c = 0; c < g_imageWidth; ++c) {
            const float mixed = static_cast<float>(static_cast<double>(gv[c]) * viewShare +
                                                   static_cast<double>(gd[c]) * dispShare + 0.0);
            const float product = mixed * a[c];
            w[c] = product + offset;
        }
    }
}
