#include "metric/linear_resize.h"

#include "metric/edge_rows.h"

#include <algorithm>
#include <cmath>

namespace morvex::detail {

namespace {

// Source positions along a row: destination column d maps to
// (d + 0.5) * scale - 0.5. Positions before the first sample take it with
// weight 1 (its neighbour with weight 0); from the first position whose
// neighbour would lie past the row, the last sample is copied.
std::vector<LinearTap> columnTaps(int srcLength, int dstLength, int& lastTwoTap)
{
    const double scale = 1.0 / (static_cast<double>(dstLength) / srcLength);
    std::vector<LinearTap> taps(dstLength);
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
        taps[d] = {s, s + 1, {1.0f - f, f}};
    }
    return taps;
}

int clampRow(int row, int rows)
{
    return row < 0 ? 0 : (row >= rows ? rows - 1 : row);
}

// Source positions along the columns: unlike the rows, the fraction is kept
// at the borders and both rows are clamped into the image.
std::vector<LinearTap> rowTaps(int srcLength, int dstLength)
{
    const double scale = 1.0 / (static_cast<double>(dstLength) / srcLength);
    std::vector<LinearTap> taps(dstLength);
    for (int d = 0; d < dstLength; ++d) {
        float f = static_cast<float>((d + 0.5) * scale - 0.5);
        const int s = static_cast<int>(std::floor(f));
        f -= static_cast<float>(s);
        taps[d] = {clampRow(s, srcLength), clampRow(s + 1, srcLength), {1.0f - f, f}};
    }
    return taps;
}

ColumnTaps columnTapArrays(const std::vector<LinearTap>& taps, int lastTwoTap)
{
    ColumnTaps arrays{{}, {}, {}, lastTwoTap};
    for (const LinearTap& t : taps) {
        arrays.index.push_back(t.index);
        arrays.weight0.push_back(t.weights[0]);
        arrays.weight1.push_back(t.weights[1]);
    }
    return arrays;
}

// The source columns that resizeRow reads; a reduction reads only some.
std::vector<int> columnsRead(const ColumnTaps& taps, int srcLength)
{
    std::vector<char> read(srcLength, 0);
    for (size_t d = 0; d < taps.index.size(); ++d) {
        read[taps.index[d]] = 1;
        if (static_cast<int>(d) < taps.lastTwoTap)
            read[taps.index[d] + 1] = 1;
    }
    std::vector<int> columns;
    for (int c = 0; c < srcLength; ++c)
        if (read[c])
            columns.push_back(c);
    return columns;
}

} // namespace

const float* LinearRows::horizontalRow(int sourceRow, int keep) const
{
    for (int i = 0; i < 2; ++i)
        if (windowRow_[i] == sourceRow)
            return window_[i].data();
    // Replace the row that is not to be kept; of two, the lower one, which
    // the rows that follow need no more.
    const int slot = windowRow_[0] == keep ? 1 : windowRow_[1] == keep ? 0 : (windowRow_[0] <= windowRow_[1] ? 0 : 1);
    window_[slot].resize(columns.index.size());
    const float* in = nullptr;
    if (reader) {
        readRow_.resize(static_cast<size_t>(readColumns.empty() ? 0 : readColumns.back() + 1));
        reader(sourceRow, readColumns, readRow_.data());
        in = readRow_.data();
    } else {
        in = source.ptr<float>(sourceRow);
    }
    const ResizeTaps taps{columns.index.data(), columns.weight0.data(), columns.weight1.data(), columns.lastTwoTap,
                          static_cast<int>(columns.index.size())};
    resizeRow(in, window_[slot].data(), taps, vectorCode);
    windowRow_[slot] = sourceRow;
    return window_[slot].data();
}

void LinearRows::row(int r, float* out) const
{
    const LinearTap& t = rows[r];
    const float* upper = horizontalRow(t.index, -1);
    const float* lower = horizontalRow(t.next, t.index);
    const float w0 = t.weights[0];
    const float w1 = t.weights[1];
    const int width = static_cast<int>(columns.index.size());
    for (int c = 0; c < width; ++c)
        out[c] = upper[c] * w0 + lower[c] * w1;
}

namespace {

// The taps of a resize from sourceSize to size, with no source yet.
LinearRows linearTaps(cv::Size sourceSize, cv::Size size)
{
    CV_Assert(size.width > 0 && size.height > 0 && sourceSize.width > 0 && sourceSize.height > 0);
    int lastTwoTap = 0;
    const std::vector<LinearTap> cols = columnTaps(sourceSize.width, size.width, lastTwoTap);
    LinearRows result;
    result.columns = columnTapArrays(cols, lastTwoTap);
    result.rows = rowTaps(sourceSize.height, size.height);
    return result;
}

} // namespace

LinearRows resizeLinearRows(const RowReader& source, cv::Size sourceSize, cv::Size size)
{
    LinearRows result = linearTaps(sourceSize, size);
    result.reader = source;
    result.readColumns = columnsRead(result.columns, sourceSize.width);
    return result;
}

LinearRows resizeLinearRowsOnDemand(const cv::Mat& source, cv::Size size)
{
    CV_Assert(source.type() == CV_32F && !source.empty());
    LinearRows result = linearTaps(source.size(), size);
    result.source = source;
    return result;
}

} // namespace morvex::detail
