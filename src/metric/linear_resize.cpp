#include "metric/linear_resize.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Tap {
    int index;        // first source sample
    float weights[2]; // weights of the sample and of its successor
};

// Source positions along a row: destination column d maps to
// (d + 0.5) * scale - 0.5. Positions before the first sample take it with
// weight 1 (its neighbour with weight 0); from the first position whose
// neighbour would lie past the row, the last sample is copied.
std::vector<Tap> columnTaps(int srcLength, int dstLength, int& lastTwoTap)
{
    const double scale = 1.0 / (static_cast<double>(dstLength) / srcLength);
    std::vector<Tap> taps(dstLength);
    lastTwoTap = dstLength;
    for (int d = 0; d < dstLength; ++d) {
        float f = static_cast<float>((d + 0.5) * scale - 0.5);
        int s = static_cast<int>(std::floor(f));
        f -= static_cast<float>(s);
        if (s < 0) {
            f = 0.0f;
            s = 0;
        }
        if (s + 1 >= srcLength) {
            lastTwoTap = std::min(lastTwoTap, d);
            f = 0.0f;
            s = srcLength - 1;
        }
        taps[d] = {s, {1.0f - f, f}};
    }
    return taps;
}

// Source positions along the columns: unlike the rows, the fraction is kept
// at the borders and both rows are clamped into the image.
std::vector<Tap> rowTaps(int srcLength, int dstLength)
{
    const double scale = 1.0 / (static_cast<double>(dstLength) / srcLength);
    std::vector<Tap> taps(dstLength);
    for (int d = 0; d < dstLength; ++d) {
        float f = static_cast<float>((d + 0.5) * scale - 0.5);
        const int s = static_cast<int>(std::floor(f));
        f -= static_cast<float>(s);
        taps[d] = {s, {1.0f - f, f}};
    }
    return taps;
}

int clampRow(int row, int rows)
{
    return row < 0 ? 0 : (row >= rows ? rows - 1 : row);
}

void resizeRow(const float* src, float* dst, const std::vector<Tap>& taps, int lastTwoTap)
{
    const int dstLength = static_cast<int>(taps.size());
    for (int d = 0; d < lastTwoTap; ++d) {
        const Tap& t = taps[d];
        dst[d] = src[t.index] * t.weights[0] + src[t.index + 1] * t.weights[1];
    }
    for (int d = lastTwoTap; d < dstLength; ++d)
        dst[d] = src[taps[d].index];
}

} // namespace

void resizeLinear(const cv::Mat& src, cv::Mat& dst, cv::Size size)
{
    CV_Assert(src.type() == CV_32F && size.width > 0 && size.height > 0 && !src.empty());
    if (src.size() == size) {
        src.copyTo(dst);
        return;
    }

    int lastTwoTap = 0;
    const std::vector<Tap> cols = columnTaps(src.cols, size.width, lastTwoTap);
    const std::vector<Tap> rows = rowTaps(src.rows, size.height);

    // Each source row is resized horizontally once; rows are then blended
    // vertically. A cache keyed by source row keeps the work linear.
    cv::Mat horizontal(src.rows, size.width, CV_32F);
    std::vector<char> done(src.rows, 0);
    auto resizedRow = [&](int row) -> const float* {
        float* out = horizontal.ptr<float>(row);
        if (!done[row]) {
            resizeRow(src.ptr<float>(row), out, cols, lastTwoTap);
            done[row] = 1;
        }
        return out;
    };

    cv::Mat out(size, CV_32F);
    for (int d = 0; d < size.height; ++d) {
        const Tap& t = rows[d];
        const float* upper = resizedRow(clampRow(t.index, src.rows));
        const float* lower = resizedRow(clampRow(t.index + 1, src.rows));
        float* o = out.ptr<float>(d);
        for (int c = 0; c < size.width; ++c)
            o[c] = upper[c] * t.weights[0] + lower[c] * t.weights[1];
    }
    dst = out;
}
