#pragma once

#include "metric/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace morvex::detail {

// Truncates a disparity toward zero to a whole number of pixels. Values past
// the 32-bit range saturate, and NaN maps to INT32_MIN, so every column
// computed from a disparity stays well defined (in 64 bits) and far outside
// the row when the disparity is absurd.
inline int64_t truncateDisparity(float value)
{
    if (std::isnan(value))
        return INT32_MIN;
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value <= -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Disparities at pixels closer than this to a disparity edge need no extra
// search steps.
constexpr float kEdgeThreshold = 0.1f;

// One row as a pass of the search sees it: the view's intensities, and the
// truncated disparities of the map that the pass follows (a callable
// int64_t(int64_t column)).
template <class Truncated>
struct SearchRow {
    const float* view;
    Truncated followed;
    int64_t width;
    const float* expWeight; // exp(-n), n = 0..5
};

namespace search_detail {

inline int64_t clampColumn(int64_t column, int64_t width)
{
    return column < 0 ? 0 : (column > width - 1 ? width - 1 : column);
}

// Adds the window of columns around p, each weighted by how close its own
// arrival column lies to x.
template <class Truncated>
inline void accumulate(const SearchRow<Truncated>& row, int64_t x, int64_t p, float& weighted, float& weights)
{
    const int64_t first = std::max<int64_t>(p - g_searchRadius, 0);
    const int64_t last = std::min<int64_t>(p + g_searchRadius + 1, row.width) - 1;
    for (int64_t k = first; k <= last; ++k) {
        const int64_t distance = x - (k + row.followed(k));
        const int64_t n = std::min<int64_t>(distance < 0 ? -distance : distance, 5);
        const float w = row.expWeight[n];
        weighted = weighted + w * row.view[k];
        weights = weights + w;
    }
}

} // namespace search_detail

// Searches the row for the pixel that the followed map sends to column x,
// starting at startColumn, and returns the weighted mean of the intensities
// visited: the intensity that arrives at x. At disparity edges the search
// makes g_edgeSteps more correction steps.
template <class Truncated>
inline float synthesise(const SearchRow<Truncated>& row, int64_t x, int64_t startColumn, bool onEdge)
{
    using search_detail::clampColumn;
    int64_t p = clampColumn(startColumn, row.width);
    int64_t y = p + row.followed(p);
    float weighted = 0.0f;
    float weights = 0.0f;
    search_detail::accumulate(row, x, p, weighted, weights);

    const int steps = std::max(g_searchSteps, 0) + (onEdge ? std::max(g_edgeSteps, 0) : 0);
    for (int s = 0; s < steps; ++s) {
        p = clampColumn(p + (x - y), row.width);
        y = p + row.followed(p);
        search_detail::accumulate(row, x, p, weighted, weights);
    }
    return weighted / weights;
}

} // namespace morvex::detail
