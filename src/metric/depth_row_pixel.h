#pragma once

// The work of the depth-row stages for one pixel: the scalar forms, which the
// vector forms reproduce lane by lane and use for the pixels past the last
// full vector.

#include "metric/depth_rows.h"
#include "metric/error_terms.h"
#include "metric/similarity_search.h"

#include <algorithm>

namespace depth_row_pixel {

inline int32_t limitedTruncation(float disparity)
{
    return static_cast<int32_t>(std::min(std::max(disparity, -kDisparityLimit), kDisparityLimit));
}

inline void truncate(const DepthRowInputs& in, DepthRowScratch& s, int j)
{
    const float dispA = in.disparity[in.depthA[j]];
    const float dispB = in.disparity[in.depthB[j]];
    const float d = dispA - dispB;
    s.truncA[j] = limitedTruncation(dispA);
    s.truncB[j] = limitedTruncation(dispB);
    s.shift[j] = limitedTruncation(d);
    s.differ[j] = d != 0.0f ? -1 : 0;
    s.sampleA[j] = s.truncA[j] * 256 + in.view8[j];
    s.sampleB[j] = s.truncB[j] * 256 + in.view8[j];
    s.magnitudeA[j] = in.magnitudeA[in.depthA[j]];
    s.magnitudeB[j] = in.magnitudeB[in.depthB[j]];
}

inline int clampColumn(int column, int width)
{
    return std::min(std::max(column, 0), width - 1);
}

// One pass: the search, from the start column, for the pixel that the
// followed disparities send to column x, as synthesise() does it with a
// window of one column; the correction steps are made at edges only.
inline float pass(const DepthRowInputs& in, const int32_t* followedSamples, int x, int start, bool onEdge)
{
    float weighted = 0.0f;
    float weights = 0.0f;
    int p = clampColumn(start, in.width);
    for (int step = 0;; ++step) {
        const int32_t sample = followedSamples[p];
        const int y = p + (sample >> 8);
        const int distance = x - y;
        const float w = in.expWeight[std::min(distance < 0 ? -distance : distance, 5)];
        weighted = weighted + w * static_cast<float>(sample & 255);
        weights = weights + w;
        if (!onEdge || step == kEdgeSteps)
            break;
        p = clampColumn(p + distance, in.width);
    }
    return weighted / weights;
}

inline void passes(const DepthRowInputs& in, DepthRowScratch& s, int j)
{
    const bool onEdge = s.differ[j] && in.gradDisp[j] > kEdgeThreshold;
    s.selfValue[j] = pass(in, s.sampleB.data(), j + s.truncA[j], j + s.shift[j], onEdge);
    s.invadValue[j] = pass(in, s.sampleA.data(), j + s.truncB[j], j - s.shift[j], onEdge);
}

inline bool insideRow(int column, int width)
{
    return static_cast<unsigned>(column) < static_cast<unsigned>(width);
}

// Where the disparities agree, both marks follow the arrival of set A and
// both errors are 0.
inline void errorTerms(const DepthRowInputs& in, const DepthRowScratch& s, RowTerms& terms, RowCounts& counts,
                       int j)
{
    const bool differ = s.differ[j] != 0;
    const bool countSelf = insideRow(j + s.truncA[j], in.width);
    const bool countInvad = differ ? insideRow(j + s.truncB[j], in.width) : countSelf;
    const float view = in.view8[j];
    terms.errorSelf[j] = differ && countSelf ? squaredError(view, s.selfValue[j]) : 0.0f;
    terms.errorInvad[j] = differ && countInvad ? squaredError(view, s.invadValue[j]) : 0.0f;
    const float weightSelf = errorWeight(in.mixed[j], s.magnitudeA[j], in.weightOffset);
    const float weightInvad = errorWeight(in.mixed[j], s.magnitudeB[j], in.weightOffset);
    terms.weightSelf[j] = countSelf ? weightSelf : 0.0f;
    terms.weightInvad[j] = countInvad ? weightInvad : 0.0f;
    counts.countedTerms += countSelf + countInvad;
    counts.disagreeingPixels += differ;
    terms.makeAddends(j);
}

} // namespace depth_row_pixel
