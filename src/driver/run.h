#pragma once

#include "driver/inputs.h"
#include "driver/options.h"

#include <ostream>

using morvex::PairResult;
using morvex::ViewResult;

// Milliseconds of a monotonic clock, as an int; only differences matter.
int clockMilliseconds();

// The score of a pair read from `paths`, with the run's camera values and
// switches; a library error names the input's path.
PairResult scorePair(const PairImages& images, const morvex::Camera& camera, const InputPaths& paths,
                     const morvex::PairOptions& options);

// The whole run for a command line: camera file, images, score, output,
// maps. Returns the exit status; input errors propagate as exceptions.
int runScoring(const Options& options, std::ostream& out, std::ostream& err);
