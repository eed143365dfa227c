#include "metric/value_range.h"

namespace morvex::detail {

void includeRow(ValueRange& range, const float* row, int n)
{
    // Eight independent lanes let the compiler use vector min and max; the
    // comparisons are the scalar ones, so NaN is skipped in every lane.
    constexpr int kLanes = 8;
    float lo[kLanes], hi[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        lo[l] = range.lo;
        hi[l] = range.hi;
    }
    int c = 0;
    for (; c + kLanes <= n; c += kLanes)
        for (int l = 0; l < kLanes; ++l) {
            const float v = row[c + l];
            lo[l] = lo[l] > v ? v : lo[l];
            hi[l] = v > hi[l] ? v : hi[l];
        }
    for (int l = 0; l < kLanes; ++l) {
        if (range.lo > lo[l])
            range.lo = lo[l];
        if (hi[l] > range.hi)
            range.hi = hi[l];
    }
    for (; c < n; ++c)
        range.include(row[c]);
}

} // namespace morvex::detail
