#pragma once

// What the single-pair and the sequence run share: the clock of the
// Computational Time, and the score of a pair whose errors name the files.

#include "readers/input_files.h"

#include <morvex/morvex.h>

// Milliseconds of a monotonic clock, as an int; only differences matter.
int clockMilliseconds();

// The seconds since the reading `start`, as the time line gives them.
float secondsSince(int start);

// The score of a pair read from `paths`; a library error names the input's path.
morvex::PairResult scorePair(const morvex::PairImages& images, const morvex::Camera& camera, const InputPaths& paths,
                             const morvex::PairOptions& options);
