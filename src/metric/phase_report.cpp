#include "metric/phase_report.h"

namespace morvex::detail {

using std::chrono::steady_clock;

void PhaseReport::timeLine()
{
    // Whole milliseconds, as the clock of the time lines counts them.
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - phaseStart_);
    const int milliseconds = static_cast<int>(elapsed.count());
    lines_("Time: " + morvex::formatFloat(static_cast<float>(milliseconds) / 1000.0f) + "(sec)");
}

void PhaseReport::begin(const char* phaseName)
{
    if (!lines_)
        return;
    phaseStart_ = steady_clock::now();
    lines_(std::string("<<") + phaseName + ">>");
}

void PhaseReport::next(const char* phaseName)
{
    if (!lines_)
        return;
    timeLine();
    lines_(std::string("<<") + phaseName + ">>");
    phaseStart_ = steady_clock::now();
}

void PhaseReport::end()
{
    if (lines_)
        timeLine();
}

} // namespace morvex::detail
