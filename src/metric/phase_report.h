#pragma once

#include <morvex/morvex.h>

#include <chrono>

namespace morvex::detail {

// The phase banners and times of a view's computation, handed as lines to
// `lines`. Without a receiver nothing is formatted and the clock is not read.
class PhaseReport {
public:
    explicit PhaseReport(const morvex::PhaseLines& lines) : lines_(lines) {}
    void begin(const char* phaseName); // banner of the first phase
    void next(const char* phaseName);  // time of the last phase, banner of the next
    void end();                        // time of the last phase

private:
    void timeLine();
    const morvex::PhaseLines& lines_;
    std::chrono::steady_clock::time_point phaseStart_;
};

} // namespace morvex::detail
