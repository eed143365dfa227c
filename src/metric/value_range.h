#pragma once

namespace morvex::detail {


// The minimum and maximum of a feature map, and the map's values rescaled by
// them to 0..1. The scan starts from 1e6 / -1e6 and skips NaN elements.
struct ValueRange {
    float lo = 1000000.0f;
    float hi = -1000000.0f;

    void include(float v)
    {
        if (lo > v)
            lo = v;
        if (v > hi)
            hi = v;
    }

    // (v - lo) / (hi - lo); a map without range carries no feature and
    // becomes 0 rather than 0 / 0.
    float normalized(float v) const
    {
        if (hi == lo)
            return 0.0f;
        return (v - lo) / (hi - lo);
    }
};

// Adds the n values of a row to the range. The same range as including them
// one by one, for rows without negative zeros (the feature maps have none).
void includeRow(ValueRange& range, const float* row, int n);

} // namespace morvex::detail
