#pragma once

#include "driver/inputs.h"

#include <optional>
#include <string>

// Everything the command line asks for.
struct Options {
    InputPaths paths;
    bool printPhases = false;       // --phases
    bool showMaps = false;          // --show-maps
    std::string saveMapsDir;        // --save-maps DIR
    bool json = false;              // --json
    std::optional<double> minScore; // --min-score X
};

// Exit statuses of the tool.
enum ExitStatus {
    kExitOk = 0,
    kExitError = 1,      // an input, the computation, the display or writing a map failed
    kExitUsage = 2,      // the command line is wrong
    kExitBelowMin = 3,   // the score is below --min-score (or not a number)
};

// What parsing decided: run with the options, or stop with a status (after
// --help, --version or a usage error, whose messages are already written).
struct ParsedCommandLine {
    Options options;
    std::optional<int> exitStatus;
};

ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// The one-line usage shown with command-line errors.
const char* usageLine();
