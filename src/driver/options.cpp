#include "driver/options.h"

#include "driver/option_suggestion.h"
#include "version.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "morvex [OPTIONS] LEFT_VIEW RIGHT_VIEW DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B DEPTH_RIGHT_B CAMERA_FILE";

const char* const kDescription =
    "Scores depth maps of a stereo pair: set B against set A, re-synthesising each view where\n"
    "their disparities disagree. Prints \"MORVEX Score: S\" (20 ln(1/sqrt(mean error)), higher is\n"
    "closer; inf for identical sets) and the computation time.\n"
    "\n"
    "Inputs, in this order (arguments after the seventh are ignored):\n"
    "  LEFT_VIEW RIGHT_VIEW        the grey views of the stereo pair (any image format; read as\n"
    "                              8-bit grey)\n"
    "  DEPTH_LEFT_A DEPTH_RIGHT_A  set A: 8-bit depth maps of the left and right view (255 = near)\n"
    "  DEPTH_LEFT_B DEPTH_RIGHT_B  set B: the depth maps scored against set A\n"
    "  CAMERA_FILE                 nine numbers: near and far depth of the left camera, near and\n"
    "                              far depth of the right camera, focal length, principal point x\n"
    "                              of the left and of the right camera, position of the left and\n"
    "                              of the right camera\n"
    "All images must have the left view's size, at least 8x8 pixels. Any of the six images may\n"
    "be a video: a raw .yuv file (with --size), a .y4m file or a pattern of numbered image files\n"
    "such as left_%04d.png; then every frame is scored, one line each, followed by the score of\n"
    "the whole sequence.\n";

const char* const kFooter =
    "\n"
    "Options may stand before, among or after the inputs; \"--\" ends the options (for inputs\n"
    "whose names start with \"-\").\n"
    "\n"
    "Exit status:\n"
    "  0  scored (and the score is at least X of --min-score)\n"
    "  1  an input cannot be used, the computation failed, --show-maps found no display,\n"
    "     or a map or the CSV file cannot be written\n"
    "  2  wrong command line\n"
    "  3  the score is below X of --min-score, or not a number\n"
    "\n"
    "Example (a pair of PNG images; for a sequence, give its videos instead):\n"
    "  morvex left.png right.png truth_l.png truth_r.png est_l.png est_r.png camera.txt";

// CLI11 would name the inputs "inputs(7x)" in its usage line and list them
// once more as a positional; the description lists them instead.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override
    {
        return std::string("Usage: ") + kUsage + "\n\n";
    }
    std::string make_description(const CLI::App* app) const override
    {
        return app->get_description();
    }
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override
    {
        std::string text = make_usage(app, name) + make_description(app) + make_groups(app, mode) + make_footer(app);
        // One empty line between groups, not CLI11's two.
        for (std::size_t at; (at = text.find("\n\n\n")) != std::string::npos;)
            text.erase(at, 1);
        return text;
    }
};

int usageError(const std::string& message)
{
    std::cerr << "morvex: " << oneLine(message) << "\n" << usageLine() << "\n";
    return kExitUsage;
}

// "WxH": two decimal numbers from 1 to 65536 and nothing else ("%d" would
// wrap 4294967328 to 32 and take a sign).
bool parseSize(const std::string& text, SequenceFormat& format)
{
    const std::size_t x = text.find('x');
    const std::string sides[] = {text.substr(0, x), x == std::string::npos ? "" : text.substr(x + 1)};
    int values[2] = {};
    for (int k = 0; k < 2; ++k) {
        if (sides[k].empty() || sides[k].size() > 5 || sides[k].find_first_not_of("0123456789") != std::string::npos)
            return false;
        values[k] = std::stoi(sides[k]);
        if (values[k] < 1 || values[k] > 65536)
            return false;
    }
    format.width = values[0];
    format.height = values[1];
    return true;
}

// CLI11's range check would print the range's limits, the largest double in
// 309 digits; a value that is no number at all is left to its conversion.
CLI::Validator atLeast(double least, const std::string& problem)
{
    return CLI::Validator(
        [least, problem](std::string& value) {
            char* end = nullptr;
            const double number = std::strtod(value.c_str(), &end);
            const bool numeric = !value.empty() && *end == '\0';
            return numeric && !(number >= least) ? problem + ", not " + value : std::string();
        },
        "");
}

// Frame numbers and counts are at most this, so that no sum of them
// overflows; CLI11 would take a number too large for its type as the largest.
const long long kMaxFrameNumber = 1000000000000000;

CLI::Validator frameNumber()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
            if (text.size() == start || text.find_first_not_of("0123456789", start) != std::string::npos)
                return "'" + text + "' is not a whole number";
            const std::size_t lead = std::min(text.find_first_not_of('0', start), text.size());
            if (text[0] != '-' && (text.size() - lead > 16 || std::stoll("0" + text.substr(lead)) > kMaxFrameNumber))
                return "'" + text + "' is larger than " + std::to_string(kMaxFrameNumber);
            return "";
        },
        "");
}

} // namespace

std::string oneLine(const std::string& message)
{
    std::string line = message;
    for (char& ch : line)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = '?';
    return line;
}

const char* usageLine()
{
    static const std::string line = std::string("usage: ") + kUsage;
    return line.c_str();
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv)
{
    ParsedCommandLine parsed;
    Options& o = parsed.options;

    CLI::App app(kDescription, "morvex");
    app.formatter(std::make_shared<HelpFormatter>());
    app.footer(kFooter);
    const char* const general = "General";
    const char* const sequences = "Sequences";
    const char* const output = "Output";
    const char* const maps = "Maps";
    const char* const checks = "Checks";
    app.set_help_flag("-h,--help", "Print this help and exit")->group(general);
    app.set_version_flag("--version", std::string("morvex ") + MORVEX_VERSION, "Print the version and exit")
        ->group(general);
    app.get_formatter()->column_width(30);

    // Counted here rather than by CLI11, whose message would name the
    // option "inputs" instead of the arguments.
    std::vector<std::string> positional;
    app.add_option("inputs", positional)->expected(1, 1 << 20)->group("");
    std::string size;
    app.add_option("--size", size, "Frame size of raw .yuv inputs")->type_name("WxH")->group(sequences);
    app.add_option("--yuv-format", o.sequenceFormat.yuvFormat, "Chroma format of raw .yuv inputs: 420 (default), 400, 422, 444")
        ->check(CLI::IsMember({"420", "400", "422", "444"}).description(""))
        ->type_name("FMT")
        ->group(sequences);
    app.add_option("--first", o.sequenceFormat.firstFrame, "First frame to score (default 0)")
        ->check(frameNumber())
        ->check(atLeast(0, "K must be a frame number: 0 (the first frame) or more"))
        ->type_name("K")
        ->group(sequences);
    app.add_option("--frames", o.frameCount, "Number of frames to score (default: all of the shortest\n"
                                              "video)")
        ->check(frameNumber())
        ->check(atLeast(1, "N must be a number of frames: 1 or more"))
        ->type_name("N")
        ->group(sequences);
    app.add_option("--threads", o.threads, "Frames scored at once (default: one per core)")
        ->check(CLI::Range(1, 1024).description(""))
        ->type_name("N")
        ->group(sequences);

    app.add_flag("--json", o.json, "Print the result as one JSON document instead of the two lines")
        ->group(output);
    app.add_option("--csv", o.csvPath, "Of a sequence, also write one row per frame (frame, score,\n"
                                     "errors, disparity errors) to FILE")
        ->type_name("FILE")
        ->group(output);
    app.add_flag("--phases", o.printPhases,
                 "Print the phase banners and phase times of each view before the\n"
                 "result (on standard error with --json)")
        ->group(output);
    app.add_flag("--quiet", o.quiet, "No progress line on the terminal")->group(output);

    CLI::Option* saveMaps = app.add_option("--save-maps", o.saveMapsDir,
                                           "Write the error and weight maps and an error heat map of each\n"
                                           "view as PNG files into DIR (created if needed)")
                                ->type_name("DIR")
                                ->group(maps);
    app.add_option("--heatmap-scale", o.heatmapScale,
                   "Colour scale of the heat maps of --save-maps: fixed (default; the\n"
                   "same for every image and run) or image (each image's own)")
        ->check(CLI::IsMember({"fixed", "image"}).description(""))
        ->type_name("SCALE")
        ->group(maps);
    app.add_flag("--show-maps", o.showMaps,
                 "Show the error and weight maps of each view in windows, each\n"
                 "waiting for a key; needs a display")
        ->group(maps);

    app.add_option("--min-score", o.minScore,
                   "After printing, exit with status 3 when the score is below X\n"
                   "or not a number")
        ->type_name("X")
        ->group(checks);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        parsed.exitStatus = app.exit(e, std::cout, std::cerr);
        return parsed;
    } catch (const CLI::CallForVersion& e) {
        parsed.exitStatus = app.exit(e, std::cout, std::cerr);
        return parsed;
    } catch (const CLI::ExtrasError& e) {
        parsed.exitStatus = usageError(e.what() + optionSuggestion(app, argc, argv));
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.exitStatus = usageError(e.what());
        return parsed;
    }

    if (positional.size() < o.paths.size()) {
        parsed.exitStatus = usageError("expected 7 inputs, got " + std::to_string(positional.size()));
        return parsed;
    }
    if (saveMaps->count() > 0 && o.saveMapsDir.empty()) {
        parsed.exitStatus = usageError("--save-maps: the directory name is empty");
        return parsed;
    }
    if (o.minScore && std::isnan(*o.minScore)) {
        parsed.exitStatus = usageError("--min-score: X must be a number");
        return parsed;
    }

    if (!size.empty() && !parseSize(size, o.sequenceFormat)) {
        parsed.exitStatus = usageError("--size: '" + size + "' is not a size such as 1920x1080");
        return parsed;
    }
    for (std::size_t i = 0; i < o.paths.size(); ++i)
        o.paths[i] = positional[i];
    return parsed;
}
