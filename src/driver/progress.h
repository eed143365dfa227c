#pragma once

#include <chrono>
#include <ostream>

// A progress line for long runs: frames done of total, frames per second and
// time left, redrawn in place at most a few times a second. Silent when
// disabled (not a terminal, or --quiet).
class ProgressLine {
public:
    ProgressLine(std::ostream& out, long long total, bool enabled);
    void update(long long done);
    void clear(); // removes the line, e.g. before other output or at the end

private:
    std::ostream& out_;
    long long total_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, lastDrawn_;
};
