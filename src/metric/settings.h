#pragma once

// The metric's tuning values. They are fixed when morvex is built; nothing
// changes them at run time.

namespace morvex::detail {

inline constexpr float g_peakValue = 1.0f;      // score numerator, inverse-depth numerator, mark value, display top
inline constexpr float g_half = 0.5f;           // weight of each view in the score; midpoint factor
inline constexpr int g_reduceFactor = 8;        // edge strengths are computed at 1/8 of the size
inline constexpr int g_searchRadius = 0;        // half-width of the summed column window of the search
inline constexpr int g_searchSteps = 0;         // correction steps made for every searched pixel
inline constexpr int g_edgeSteps = 2;           // further correction steps at disparity edges
inline constexpr float g_gradientMix = 0.9f;    // share of the disparity edges in the mixed edge strength
inline constexpr float g_weightOffset = 0.0001f; // added to every weight

} // namespace morvex::detail
