#include "sample/stereo_rig.h"

#include <cmath>
#include <cstdio>

StereoRig rigForWidth(int width)
{
    const double principal = (width - 1) / 2.0; // equal on both sides: no shift term
    return {50.0, 500.0, 50.0, 500.0, 0.5 * width, principal, principal, 0.0, 10.0};
}

std::string rigText(const StereoRig& r)
{
    char text[400];
    std::snprintf(text, sizeof text, "%.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g\n", r.nearLeft, r.farLeft,
                  r.nearRight, r.farRight, r.focal, r.principalLeft, r.principalRight, r.positionLeft, r.positionRight);
    return text;
}

std::array<int, 256> disparityTable(const StereoRig& r, Side side)
{
    const bool left = side == Side::Left;
    const double nearZ = left ? r.nearLeft : r.nearRight, farZ = left ? r.farLeft : r.farRight;
    const double baseline = (left ? r.positionLeft : r.positionRight) - (r.positionLeft + r.positionRight) / 2;
    const double shift = (r.principalLeft + r.principalRight) / 2 - (left ? r.principalLeft : r.principalRight);
    std::array<int, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const double inverseZ = v / 255.0 * (1 / nearZ - 1 / farZ) + 1 / farZ;
        table[v] = static_cast<int>(std::lround(r.focal * baseline * inverseZ + shift));
    }
    return table;
}
