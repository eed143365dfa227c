#pragma once

#include "driver/options.h"

#include <ostream>

// Scores every frame of a sequence run, in parallel, and writes the per-frame
// lines and the pooled result. Returns the exit status; input errors
// propagate as exceptions.
int runSequence(const Options& options, std::ostream& out, std::ostream& err);
