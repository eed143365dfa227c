#pragma once

#include <opencv2/core.hpp>

#include <functional>
#include <vector>

// Writes row `row` of a float image into `out` (as many values as the image
// has columns).
using RowReader = std::function<void(int row, float* out)>;

// Two neighbouring source samples and their weights.
struct LinearTap {
    int index;        // first sample
    int next;         // second sample
    float weights[2];
};

// A bilinear resize held after its horizontal stage: every source row that
// the result needs, resized to the new width, and for each row of the result
// the two resized rows to blend. Rows of the result are made on demand.
struct LinearRows {
    cv::Mat horizontal;          // source rows x new width; unneeded rows unset
    std::vector<LinearTap> rows; // one per row of the result

    void row(int r, float* out) const;
};

// Bilinear resize of a single-channel float image of `sourceSize`, read a row
// at a time, to `size`, with the pixel-centre alignment, coefficients, border
// handling and order of float operations of the image library's INTER_LINEAR
// resize. Unlike the library's vector code, its results do not depend on the
// CPU (no fused multiply-add).
LinearRows resizeLinearRows(const RowReader& source, cv::Size sourceSize, cv::Size size);
