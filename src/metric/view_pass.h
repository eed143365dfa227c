#pragma once

#include "metric/edge_strength.h"

#include <morvex/morvex.h>
#include <opencv2/core.hpp>

#include <cstdint>

namespace morvex::detail {

// The per-pixel work of one view in one pass over its rows: the similarity
// search of both passes, the two error terms, their weights and the pooling.
// Every row is finished before the next one starts, so no full-size map is
// made unless the maps are asked for.

// The disparities of a view, read a row at a time. Two forms: 8-bit depth
// maps through per-value tables, and float disparity maps.
struct DepthDisparities {
    cv::Mat depthA, depthB;       // 8-bit
    const float* disparity;       // [256]: disparity of a depth value
    float disparityScale;         // the disparity before rounding: value * scale + offset
    float disparityOffset;
    const int32_t* truncated;     // [256]: the same, truncated
    const float* magnitudeA;      // [256]: |disparity| normalised over set A
    const float* magnitudeB;      // [256]: |disparity| normalised over set B
    ValueRange rangeA, rangeB;    // the ranges of |disparity| over sets A and B
    bool smallDisparities;        // every entry of the table lies within +-kSmallDisparity
};

struct FloatDisparities {
    cv::Mat dispA, dispB;         // float maps
    ValueRange magnitudeA, magnitudeB; // ranges of |dispA| and |dispB|
};

// The rest of what the pass reads.
struct ViewPassInputs {
    cv::Mat view;                 // 8-bit or float
    const EdgeStrength* gradView;
    const EdgeStrength* gradDisp;
    const float* expWeight;       // exp(-n), n = 0..5
    bool vectorCode;              // the processor's vector code may be used
};

// What the pass found.
struct ViewPassResult {
    float error = 0.0f;              // weighted mean of the pooled squared errors
    long long countedTerms = 0;      // error terms pooled (a pixel counts once per pass)
    long long disagreeingPixels = 0; // pixels whose two disparities differ
};

// Runs the pass over all rows of the view; fills `maps` when it is not null.
ViewPassResult runViewPass(const ViewPassInputs& inputs, const DepthDisparities& disparities, morvex::ViewMaps* maps);
ViewPassResult runViewPass(const ViewPassInputs& inputs, const FloatDisparities& disparities, morvex::ViewMaps* maps);

} // namespace morvex::detail
