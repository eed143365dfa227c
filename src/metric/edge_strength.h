#pragma once

#include "metric/linear_resize.h"
#include "metric/value_range.h"

#include <opencv2/core.hpp>

// The edge strength of a full-size map (the view, or dispA): the map is
// reduced by g_reduceFactor, its Sobel gradient magnitude is taken there and
// scaled back up to the full size, and the result is normalised to 0..1 by
// its own range. The full-size map is never stored: its rows are made when
// they are needed, once to find the range and once for use.
struct EdgeStrength {
    LinearRows upscaled;
    ValueRange range;
};

// Row r of the normalised edge strengths of the view and of dispA: that of
// dispA into gradDispRow, and their mix (EdgeMix) into mixedRow.
void mixedEdgeRow(const EdgeStrength& gradView, const EdgeStrength& gradDisp, int r, float* gradDispRow,
                  float* mixedRow);

// The range of the map of `rows`, as a scan of each of its rows would find.
ValueRange upscaledRange(const LinearRows& rows);

// `source` reads rows of the g_imageHeight x g_imageWidth map.
EdgeStrength edgeStrength(const RowReader& source, const cv::Mat& matKernelX, const cv::Mat& matKernelY);

// Correlates a float map with a 3x3 float kernel (anchor at the centre,
// borders reflected without repeating the edge pixel), summing the non-zero
// kernel terms in row-major order from 0 in single precision.
void filter3x3(const cv::Mat& src, cv::Mat& dst, const cv::Mat& kernel);
