#pragma once

#include "readers/frame_source.h"
#include "readers/input_files.h"

#include <optional>
#include <stdexcept>
#include <string>

// Everything the command line asks for.
struct Options {
    InputPaths paths;
    bool printPhases = false;       // --phases
    bool showMaps = false;          // --show-maps
    std::string saveMapsDir;        // --save-maps DIR
    std::string heatmapScale = "fixed"; // --heatmap-scale: "fixed" or "image"
    bool json = false;              // --json
    std::optional<double> minScore; // --min-score X

    // Sequences (when any image input is a video)
    SequenceFormat sequenceFormat;         // --size WxH, --yuv-format, --first K
    std::optional<long long> frameCount;   // --frames N
    int threads = 0;                       // --threads N (0: one per core)
    std::string csvPath;                   // --csv FILE
    bool quiet = false;                    // --quiet
};

// A command line that asks for something impossible; exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
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

// The message with its control characters (a newline in an argument, in a
// library's message) shown as '?', so that an error stays one line.
std::string oneLine(const std::string& message);

// The one-line usage shown with command-line errors.
const char* usageLine();
