#pragma once

#include "metric/settings.h"

#include <cstdint>
#include <cstring>

namespace morvex::detail {


// The pieces of one error term: a squared error and its weight.

// ((view - synthesised) / 255)^2 on a 0..1 scale: the difference of the two
// floats, exact in double (so equal values give exactly 0), divided by 255 in
// double, rounded once to float and squared in float.
//
// The division is slow. The product with the reciprocal of 255 lies within
// three units in the last place of the quotient, so both round to the same
// float unless the product lies that close to a point halfway between two
// floats: a double whose 29 bits below float precision are 1000...0. When
// the product's bits are further than 16 from that pattern,
// scaledErrorEstimate says it is certain; otherwise the caller divides.
struct ScaledError {
    float value;
    bool certain;
};

constexpr uint64_t kBelowFloatPrecision = (uint64_t{1} << 29) - 1;
constexpr uint64_t kHalfwayBits = uint64_t{1} << 28;
constexpr uint64_t kHalfwayMargin = 16;

// Whether the bits of an estimate below float precision lie within the margin
// of the halfway pattern.
inline bool nearHalfway(double estimate)
{
    uint64_t bits;
    std::memcpy(&bits, &estimate, sizeof bits);
    const uint64_t offHalfway = (bits & kBelowFloatPrecision) - (kHalfwayBits - kHalfwayMargin);
    return offHalfway <= 2 * kHalfwayMargin;
}

inline ScaledError scaledErrorEstimate(float view, float synthesised)
{
    const double difference = static_cast<double>(view) - static_cast<double>(synthesised);
    const double estimate = difference * (1.0 / 255.0);
    return {static_cast<float>(estimate), !nearHalfway(estimate)};
}

inline float scaledErrorExact(float view, float synthesised)
{
    const double difference = static_cast<double>(view) - static_cast<double>(synthesised);
    return static_cast<float>(difference / 255.0);
}

inline float squaredError(float view, float synthesised)
{
    const ScaledError estimate = scaledErrorEstimate(view, synthesised);
    const float scaled = estimate.certain ? estimate.value : scaledErrorExact(view, synthesised);
    return scaled * scaled;
}

// The edge strengths of the view and of dispA mixed by g_gradientMix. The
// coefficients are the float settings widened to double; the mix is formed
// in double (the products are exact there) and rounded once to float.
struct EdgeMix {
    double viewShare;
    double dispShare;

    float operator()(float gradView, float gradDisp) const
    {
        return static_cast<float>(static_cast<double>(gradView) * viewShare +
                                  static_cast<double>(gradDisp) * dispShare + 0.0);
    }
};

inline EdgeMix edgeMix()
{
    return {static_cast<double>(1.0f - g_gradientMix), static_cast<double>(g_gradientMix)};
}

// The weight of an error: the mixed edge strength times a normalised
// disparity magnitude, plus the offset g_weightOffset.
inline float errorWeight(float mixedEdges, float magnitude, float offset)
{
    const float product = mixedEdges * magnitude;
    return product + offset;
}

} // namespace morvex::detail
