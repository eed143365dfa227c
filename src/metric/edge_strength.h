#pragma once

#include "metric/linear_resize.h"
#include "metric/value_range.h"

#include <opencv2/core.hpp>

namespace morvex::detail {

// The edge strength of a full-size map (the view, or dispA): the map is
// reduced by g_reduceFactor, its Sobel gradient magnitude is taken there and
// scaled back up to the full size, and the result is normalised to 0..1 by
// its own range. Of the maps on the way only the gradient magnitude is
// stored whole: the reduced map's rows are made as the filter needs them,
// and the full-size rows as the pass over the rows asks for them; the range
// comes from the few blocks of the full-size map that may hold its extremes.
struct EdgeStrength {
    LinearRows upscaled;
    ValueRange range;
};

// Row r of the normalised edge strengths of the view and of dispA: that of
// dispA into gradDispRow, and their mix (EdgeMix) into mixedRow.
// vectorCode: the processor's vector code may be used (the same bits).
void mixedEdgeRow(const EdgeStrength& gradView, const EdgeStrength& gradDisp, int r, float* gradDispRow,
                  float* mixedRow, bool vectorCode);

// The range of the map of `rows`, as a scan of each of its rows would find.
ValueRange upscaledRange(const LinearRows& rows);

// `source` reads rows of a map of `size`; vectorCode: the processor's vector
// code may be used (the same bits).
EdgeStrength edgeStrength(const RowReader& source, cv::Size size, const cv::Mat& matKernelX, const cv::Mat& matKernelY,
                          bool vectorCode);

} // namespace morvex::detail
