#include "driver/run.h"

#include "driver/camera.h"
#include "driver/display_probe.h"
#include "driver/map_writer.h"
#include "driver/report.h"
#include "driver/scoring.h"
#include "driver/sequence_run.h"
#include "driver/settings.h"
#include "driver/view_metric.h"
#include "readers/pair_reader.h"

namespace {

int exitStatusFor(const Options& options, float score)
{
    if (options.minScore && !(score >= *options.minScore))
        return kExitBelowMin;
    return kExitOk;
}

} // namespace

int runScoring(const Options& options, std::ostream& out, std::ostream& err)
{
    if (isSequence(options.paths))
        return runSequence(options, out, err);
    if (!options.csvPath.empty())
        throw UsageError("--csv writes one row per frame of a sequence; for a single pair use --json");

    if (options.showMaps) {
        const std::string problem = displayProblem();
        if (!problem.empty()) {
            err << "morvex: --show-maps: " << problem << "; --save-maps DIR writes the maps as PNG files instead"
                << std::endl;
            return kExitError;
        }
    }

    readCameraParameters(options.paths[static_cast<int>(morvex::Input::CameraFile)]);
    std::string warning;
    const morvex::PairImages images = readPairImages(options.paths, warning);
    if (!warning.empty())
        err << "morvex: warning: " << warning << std::endl;
    g_imageWidth = images.viewLeft.cols;
    g_imageHeight = images.viewLeft.rows;
    const morvex::Camera camera = cameraFromGlobals();
    try {
        morvex::checkPair(images, camera);
    } catch (const morvex::Error& e) {
        failWithPath(e, options.paths);
    }

    morvex::PairOptions pairOptions;
    // stdout carries nothing but the JSON document.
    pairOptions.view = viewOptionsOfRun(options.json ? err : out);
    pairOptions.view.keepMaps = !options.saveMapsDir.empty();
    pairOptions.view.disparityErrors = options.json; // the score lines do not show them
    if (pairOptions.view.keepMaps)
        makeMapDirectory(options.saveMapsDir);

    const int start = clockMilliseconds();
    const morvex::PairResult result = scorePair(images, camera, options.paths, pairOptions);
    if (!result.warning().empty())
        err << "morvex: warning: " << result.warning() << std::endl;
    if (!options.json && !pairOptions.view.keepMaps) {
        // The measured time includes writing the score line.
        writeScoreLine(out, result.score);
        writeTimeLine(out, secondsSince(start));
        return exitStatusFor(options, result.score);
    }

    const float seconds = secondsSince(start);
    // The maps come first so that a map that cannot be written fails the
    // run before any result is printed.
    if (pairOptions.view.keepMaps) {
        const float top = options.heatmapScale == "image" ? 0.0f : morvex::kHeatmapTop;
        saveViewMaps(options.saveMapsDir, "left", images.viewLeft, result.left.maps, top);
        saveViewMaps(options.saveMapsDir, "right", images.viewRight, result.right.maps, top);
    }
    if (options.json) {
        writeJsonResult(out, options.paths, result, seconds);
    } else {
        writeScoreLine(out, result.score);
        writeTimeLine(out, seconds);
    }

    return exitStatusFor(options, result.score);
}
