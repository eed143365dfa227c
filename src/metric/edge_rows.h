#pragma once

#include <cstddef>

namespace morvex::detail {

// The row loops of the edge strengths, as vector code where the processor
// has it (Highway, edge_rows.cpp), with the same bits on every target.

// One row of the normalised edge strengths of the view and of dispA and
// their mix: per column c, each map's value is blended from two rows of
// its horizontal stage (upper * w0 + lower * w1), normalised by its range
// ((value - lo) / span, or 0 where the map is flat), and the two are mixed in
// double (view * viewShare + disp * dispShare + 0.0, rounded once to float).
struct EdgeRowBlend {
    const float* upper;
    const float* lower;
    float w0, w1;
    float lo, span;
    bool flat;
};

struct MixedEdgeRow {
    EdgeRowBlend view, disp;
    double viewShare, dispShare;
    int width;
    bool vectorCode; // the processor's vector code may be used
};

// Writes the row's normalised edge strength of dispA and the mix. The same
// bits on every target as one lane at a time.
void mixEdgeRow(const MixedEdgeRow& in, float* gradDispRow, float* mixedRow);

// The horizontal stage of a bilinear resize for one row (see
// linear_resize.h): dst[d] = src[index[d]] * w0[d] + src[index[d] + 1] * w1[d]
// for d below lastTwoTap, src[index[d]] from there to dstLength.
struct ResizeTaps {
    const int* index;
    const float* w0;
    const float* w1;
    int lastTwoTap;
    int dstLength;
};
void resizeRow(const float* src, float* dst, const ResizeTaps& taps, bool vectorCode);

} // namespace morvex::detail
