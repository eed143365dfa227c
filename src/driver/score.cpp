#include "driver/score.h"

#include "driver/settings.h"

#include <cmath>
#include <sstream>

float combineViewErrors(float scoreLeft, float scoreRight)
{
    const float rightPart = scoreRight * g_half;
    const float leftPart = scoreLeft * g_half;
    const float mean = rightPart + leftPart;
    const float root = sqrtf(mean);
    const float ratio = g_peakValue / root;
    return logf(ratio) * 20.0f;
}

std::string formatFloat(float value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}
