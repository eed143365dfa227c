#pragma once

#include <opencv2/core.hpp>

#include <functional>
#include <vector>

namespace morvex::detail {

// Writes the values of row `row` of a float image at the given columns into
// `out`, indexed by column (out[c] for each c of `columns`).
using RowReader = std::function<void(int row, const std::vector<int>& columns, float* out)>;

// Two neighbouring source samples and their weights.
struct LinearTap {
    int index;        // first sample
    int next;         // second sample
    float weights[2];
};

// The taps of the horizontal stage, as separate arrays for vector code.
struct ColumnTaps {
    std::vector<int> index;
    std::vector<float> weight0, weight1;
    int lastTwoTap; // from this column on, the last sample is copied
};

// A bilinear resize in two stages: each source row that the result needs is
// resized to the new width (the horizontal stage), and each row of the result
// blends two such rows. The horizontal stage is made on demand, for the two
// source rows in use, when the rows of the result are asked for in
// increasing order: no image-sized map is made.
struct LinearRows {
    cv::Mat source;              // the source map, or
    RowReader reader;            // a reader of its rows
    std::vector<int> readColumns; // the columns of a row that the horizontal stage reads
    ColumnTaps columns;
    std::vector<LinearTap> rows; // one per row of the result
    bool vectorCode = true;      // the processor's vector code may be used (the same bits)

    // The horizontal stage of a source row; `keep` names a source row whose
    // stage must stay available too.
    const float* horizontalRow(int sourceRow, int keep) const;
    void row(int r, float* out) const;

private:
    mutable std::vector<float> window_[2];
    mutable int windowRow_[2] = {-1, -1};
    mutable std::vector<float> readRow_;
};

// Bilinear resize of a single-channel float image of `sourceSize`, read a row
// at a time, to `size`, with the pixel-centre alignment, coefficients, border
// handling and order of float operations of the image library's INTER_LINEAR
// resize. Unlike the library's vector code, its results do not depend on the
// CPU (no fused multiply-add).
LinearRows resizeLinearRows(const RowReader& source, cv::Size sourceSize, cv::Size size);

// The same resize of a whole float map.
LinearRows resizeLinearRowsOnDemand(const cv::Mat& source, cv::Size size);

} // namespace morvex::detail
