#include "metric/float_maps.h"

#include <morvex/morvex.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace morvex::detail {

cv::Mat floatsInPlace(const cv::Mat& map)
{
    const bool aligned = reinterpret_cast<std::uintptr_t>(map.data) % alignof(float) == 0 &&
                         (map.rows <= 1 || map.step[0] % alignof(float) == 0);
    return aligned ? map : map.clone();
}

void checkValues(const cv::Mat& map, const char* name)
{
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        // The whole row first, in a loop without an exit, which the compiler vectorises.
        bool usable = true;
        for (int c = 0; c < map.cols; ++c)
            usable &= std::fabs(row[c]) <= kLargestMapValue;
        if (usable)
            continue;
        for (int c = 0; c < map.cols; ++c)
            if (!(std::fabs(row[c]) <= kLargestMapValue))
                throw Error(Input::None, std::string(name) + ": pixel (row " + std::to_string(r) + ", column " +
                                             std::to_string(c) + ") is " + formatFloat(row[c]) +
                                             "; values must be finite and at most 2147483648 in magnitude");
    }
}

} // namespace morvex::detail
