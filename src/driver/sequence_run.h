#pragma once

#include "driver/options.h"
#include "driver/run.h"

#include <ostream>

// Whether a path names a video input: a raw .yuv or a .y4m file, or a
// printf-style pattern of numbered image files such as left_%04d.png.
bool isSequencePath(const std::string& path);

// Whether any of the six image inputs is a video.
bool isSequenceRun(const Options& options);

// Scores every frame of a sequence run, in parallel, and writes the per-frame
// lines and the pooled result. Returns the exit status; input errors
// propagate as exceptions.
int runSequence(const Options& options, std::ostream& out, std::ostream& err);
