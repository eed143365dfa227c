#pragma once

#include <string>

// The score of a stereo pair from its two per-view errors:
// 20 * ln(g_peakValue / sqrt(g_half * right + g_half * left)), in float.
float combineViewErrors(float scoreLeft, float scoreRight);

// A float as the standard output stream writes it by default (six
// significant digits, no trailing zeros; "inf", "nan").
std::string formatFloat(float value);
