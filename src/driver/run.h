#pragma once

#include "driver/options.h"

#include <ostream>

// The whole run for a command line: camera file, images, score, output,
// maps; sequences when an image input is a video. Returns the exit status;
// input errors propagate as exceptions.
int runScoring(const Options& options, std::ostream& out, std::ostream& err);
