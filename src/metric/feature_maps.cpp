#include "metric/feature_maps.h"

#include "driver/settings.h"
#include "metric/linear_resize.h"

#include <cmath>
#include <utility>
#include <vector>

void normalizeMinMax(cv::Mat& map)
{
    float lo = 1000000.0f;
    float hi = -1000000.0f;
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c) {
            const float v = row[c];
            if (lo > v)
                lo = v;
            if (v > hi)
                hi = v;
        }
    }
    // A map without range (a uniform view, a single disparity) carries no
    // feature: it becomes 0 rather than 0 / 0.
    if (hi == lo) {
        map.setTo(0.0f);
        return;
    }
    const float range = hi - lo;
    for (int r = 0; r < map.rows; ++r) {
        float* row = map.ptr<float>(r);
        for (int c = 0; c < map.cols; ++c)
            row[c] = (row[c] - lo) / range;
    }
}

// Index of a neighbour across the border, reflected about the edge pixel
// (-1 -> 1, n -> n - 2); a single pixel reflects onto itself.
static int reflect101(int index, int length)
{
    if (length == 1)
        return 0;
    if (index < 0)
        return -index;
    if (index >= length)
        return 2 * length - 2 - index;
    return index;
}

void filter3x3(const cv::Mat& src, cv::Mat& dst, const cv::Mat& kernel)
{
    struct Term {
        int dr, dc;
        float weight;
    };
    std::vector<Term> terms;
    for (int kr = 0; kr < 3; ++kr)
        for (int kc = 0; kc < 3; ++kc)
            if (kernel.at<float>(kr, kc) != 0.0f)
                terms.push_back({kr - 1, kc - 1, kernel.at<float>(kr, kc)});

    cv::Mat out(src.rows, src.cols, CV_32F);
    std::vector<int> columns(src.cols + 2);
    for (int c = -1; c <= src.cols; ++c)
        columns[c + 1] = reflect101(c, src.cols);

    for (int r = 0; r < src.rows; ++r) {
        const float* rows[3];
        for (int k = 0; k < 3; ++k)
            rows[k] = src.ptr<float>(reflect101(r + k - 1, src.rows));
        float* o = out.ptr<float>(r);
        for (int c = 0; c < src.cols; ++c) {
            float sum = 0.0f;
            for (const Term& t : terms)
                sum += t.weight * rows[t.dr + 1][columns[c + t.dc + 1]];
            o[c] = sum;
        }
    }
    dst = out;
}

void computeEdgeStrength(cv::Mat source, cv::Mat matKernelX, cv::Mat matKernelY, cv::Mat& edgeStrength)
{
    const cv::Size reducedSize(g_imageWidth / g_reduceFactor, g_imageHeight / g_reduceFactor);
    cv::Mat small;
    resizeLinear(source, small, reducedSize);

    cv::Mat matGradX, matGradY;
    filter3x3(small, matGradX, matKernelX);
    filter3x3(small, matGradY, matKernelY);

    // sqrt(gy^2 + gx^2), each square rounded to float before the sum.
    cv::Mat magnitude(reducedSize, CV_32F);
    for (int r = 0; r < reducedSize.height; ++r) {
        const float* gx = matGradX.ptr<float>(r);
        const float* gy = matGradY.ptr<float>(r);
        float* m = magnitude.ptr<float>(r);
        for (int c = 0; c < reducedSize.width; ++c) {
            const float squareY = gy[c] * gy[c];
            const float squareX = gx[c] * gx[c];
            m[c] = std::sqrt(squareY + squareX);
        }
    }
    resizeLinear(magnitude, edgeStrength, cv::Size(g_imageWidth, g_imageHeight));
}

static void absoluteValues(const cv::Mat& src, cv::Mat& dst)
{
    dst.create(src.rows, src.cols, CV_32F);
    for (int r = 0; r < src.rows; ++r) {
        const float* in = src.ptr<float>(r);
        float* out = dst.ptr<float>(r);
        for (int c = 0; c < src.cols; ++c)
            out[c] = std::fabs(in[c]);
    }
}

void computeFeatureMaps(cv::Mat view, cv::Mat dispA, cv::Mat dispB, cv::Mat matKernelX, cv::Mat matKernelY,
                        cv::Mat& matGradView, cv::Mat& matGradDisp, cv::Mat& matAbsDispA, cv::Mat& matAbsDispB)
{
    computeEdgeStrength(view, matKernelX, matKernelY, matGradView);
    computeEdgeStrength(dispA, matKernelX, matKernelY, matGradDisp);
    absoluteValues(dispA, matAbsDispA);
    absoluteValues(dispB, matAbsDispB);

    normalizeMinMax(matGradView);
    normalizeMinMax(matGradDisp);
    normalizeMinMax(matAbsDispA);
    normalizeMinMax(matAbsDispB);
}
