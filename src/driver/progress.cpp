#include "driver/progress.h"

#include "readers/image_file.h"

#include <cstdio>

ProgressLine::ProgressLine(std::ostream& out, long long total, bool enabled)
    : out_(out), total_(total), enabled_(enabled), start_(std::chrono::steady_clock::now()), lastDrawn_(start_)
{
}

void ProgressLine::update(long long done)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    if (!enabled_ || now - lastDrawn_ < milliseconds(200))
        return;
    lastDrawn_ = now;

    const double seconds = duration<double>(now - start_).count();
    const double fps = seconds > 0.0 ? done / seconds : 0.0;
    char line[128];
    if (fps > 0.0) {
        const long long left = static_cast<long long>((total_ - done) / fps + 0.5);
        std::snprintf(line, sizeof line, "\r%lld/%lld frames, %.1f frames/s, %lld:%02lld left\033[K", done, total_,
                      fps, left / 60, left % 60);
    } else {
        std::snprintf(line, sizeof line, "\r%lld/%lld frames\033[K", done, total_);
    }
    std::lock_guard<std::mutex> hold(standardErrorLock());
    out_ << line << std::flush;
    shown_ = true;
}

void ProgressLine::clear()
{
    if (shown_) {
        std::lock_guard<std::mutex> hold(standardErrorLock());
        out_ << "\r\033[K" << std::flush;
    }
    shown_ = false;
}
