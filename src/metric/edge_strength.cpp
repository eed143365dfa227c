#include "metric/edge_strength.h"

#include "driver/settings.h"
#include "metric/error_terms.h"
#include "metric/vector_code.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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

    // Each source row is copied with its reflected borders, and the terms are
    // added term by term across the row: per pixel the same sums in the same
    // order, in loops the compiler vectorises.
    cv::Mat out(src.rows, src.cols, CV_32F);
    std::vector<float> padded[3];
    for (auto& p : padded)
        p.resize(src.cols + 2);
    for (int r = 0; r < src.rows; ++r) {
        for (int k = 0; k < 3; ++k) {
            const float* in = src.ptr<float>(reflect101(r + k - 1, src.rows));
            std::copy(in, in + src.cols, padded[k].begin() + 1);
            padded[k][0] = in[reflect101(-1, src.cols)];
            padded[k][src.cols + 1] = in[reflect101(src.cols, src.cols)];
        }
        float* o = out.ptr<float>(r);
        std::fill(o, o + src.cols, 0.0f);
        for (const Term& t : terms) {
            const float* in = padded[t.dr + 1].data() + t.dc + 1;
            for (int c = 0; c < src.cols; ++c)
                o[c] = o[c] + t.weight * in[c];
        }
    }
    dst = out;
}

// sqrt(gy^2 + gx^2), each square rounded to float before the sum.
static cv::Mat gradientMagnitude(const cv::Mat& small, const cv::Mat& matKernelX, const cv::Mat& matKernelY)
{
    cv::Mat matGradX, matGradY;
    filter3x3(small, matGradX, matKernelX);
    filter3x3(small, matGradY, matKernelY);
    cv::Mat magnitude(small.size(), CV_32F);
    for (int r = 0; r < small.rows; ++r) {
        const float* gx = matGradX.ptr<float>(r);
        const float* gy = matGradY.ptr<float>(r);
        float* m = magnitude.ptr<float>(r);
        for (int c = 0; c < small.cols; ++c) {
            const float squareY = gy[c] * gy[c];
            const float squareX = gx[c] * gx[c];
            m[c] = std::sqrt(squareY + squareX);
        }
    }
    return magnitude;
}

namespace {

// A row of the upscaled map, blended from two rows of its horizontal stage.
struct BlendedRow {
    const float* upper;
    const float* lower;
    float w0, w1;

    float operator[](int c) const { return upper[c] * w0 + lower[c] * w1; }
};

BlendedRow blendedRow(const LinearRows& rows, int r)
{
    const LinearTap& t = rows.rows[r];
    const float* upper = rows.horizontalRow(t.index, -1);
    const float* lower = rows.horizontalRow(t.next, t.index);
    return {upper, lower, t.weights[0], t.weights[1]};
}

// The range of the upscaled map, its rows made and scanned in one go, eight
// columns at a time in independent lanes (vector min and max).
MORVEX_VECTOR_CLONES ValueRange upscaledRange(const LinearRows& rows)
{
    using Lanes = float __attribute__((vector_size(32)));
    constexpr int kLanes = 8;
    const int width = static_cast<int>(rows.columns.index.size());
    ValueRange range;
    Lanes lo = range.lo - Lanes{};
    Lanes hi = range.hi - Lanes{};
    for (size_t r = 0; r < rows.rows.size(); ++r) {
        const BlendedRow row = blendedRow(rows, static_cast<int>(r));
        int c = 0;
        for (; c + kLanes <= width; c += kLanes) {
            Lanes upper, lower;
            std::memcpy(&upper, row.upper + c, sizeof upper);
            std::memcpy(&lower, row.lower + c, sizeof lower);
            const Lanes v = upper * row.w0 + lower * row.w1;
            lo = lo > v ? v : lo;
            hi = v > hi ? v : hi;
        }
        for (; c < width; ++c)
            range.include(row[c]);
    }
    for (int l = 0; l < kLanes; ++l) {
        if (range.lo > lo[l])
            range.lo = lo[l];
        if (hi[l] > range.hi)
            range.hi = hi[l];
    }
    return range;
}

} // namespace

EdgeStrength edgeStrength(const RowReader& source, const cv::Mat& matKernelX, const cv::Mat& matKernelY)
{
    const cv::Size fullSize(g_imageWidth, g_imageHeight);
    const cv::Size reducedSize(g_imageWidth / g_reduceFactor, g_imageHeight / g_reduceFactor);

    const LinearRows reducing = resizeLinearRows(source, fullSize, reducedSize);
    cv::Mat small(reducedSize, CV_32F);
    for (int r = 0; r < reducedSize.height; ++r)
        reducing.row(r, small.ptr<float>(r));

    EdgeStrength edges;
    edges.upscaled = resizeLinearRowsOnDemand(gradientMagnitude(small, matKernelX, matKernelY), fullSize);
    edges.range = upscaledRange(edges.upscaled);
    return edges;
}

MORVEX_VECTOR_CLONES void mixedEdgeRow(const EdgeStrength& gradView, const EdgeStrength& gradDisp, int r,
                                       float* gradDispRow, float* mixedRow)
{
    const BlendedRow view = blendedRow(gradView.upscaled, r);
    const BlendedRow disp = blendedRow(gradDisp.upscaled, r);
    const float viewLo = gradView.range.lo;
    const float viewSpan = gradView.range.hi - gradView.range.lo;
    const float dispLo = gradDisp.range.lo;
    const float dispSpan = gradDisp.range.hi - gradDisp.range.lo;
    const bool viewFlat = gradView.range.hi == gradView.range.lo;
    const bool dispFlat = gradDisp.range.hi == gradDisp.range.lo;
    const EdgeMix mix = edgeMix();
    const int width = static_cast<int>(gradView.upscaled.columns.index.size());
    for (int c = 0; c < width; ++c) {
        const float v = viewFlat ? 0.0f : (view[c] - viewLo) / viewSpan;
        const float d = dispFlat ? 0.0f : (disp[c] - dispLo) / dispSpan;
        gradDispRow[c] = d;
        mixedRow[c] = mix(v, d);
    }
}
