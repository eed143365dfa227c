#include "driver/run.h"

#include "driver/call_settings.h"
#include "driver/disparity.h"
#include "driver/map_writer.h"
#include "driver/report.h"
#include "driver/score.h"
#include "driver/sequence_run.h"
#include "driver/settings.h"
#include "metric/phase_report.h"
#include "metric/show_map.h"
#include "metric/similarity_search.h"

#include <cmath>
#include <exception>
#include <future>

namespace {

float secondsSince(int start)
{
    return static_cast<float>(clockMilliseconds() - start) / 1000.0f;
}

int exitStatusFor(const Options& options, float score)
{
    if (options.minScore && !(score >= *options.minScore))
        return kExitBelowMin;
    return kExitOk;
}

ViewResult evaluateOneView(ViewMetric metric, const char* name, const cv::Mat& view, const cv::Mat& depthA,
                           const cv::Mat& depthB, char side, ViewDetails& details)
{
    ViewResult result;
    result.error = metric(view, depthA, depthB, side, &details);
    result.countedPixels = details.countedTerms;
    result.disagreeingPixels = details.disagreeingPixels;
    if (details.countedTerms == 0)
        throw InputError(std::string("no pixel of the ") + name +
                         " view could be compared: every pixel's disparity sends it outside the image");
    return result;
}

// Whether the search will count anything for a view: a pixel counts when its
// disparity in set A or in set B sends it to a column inside the row. An
// 8-bit depth has 256 disparities, converted once; most views answer at
// their first pixel.
bool anyPixelArrivesInside(const cv::Mat& depthA, const cv::Mat& depthB, char side)
{
    const std::array<float, 256> table = disparityTable(side);

    const int64_t width = depthA.cols;
    for (int r = 0; r < depthA.rows; ++r) {
        const uint8_t* a = depthA.ptr<uint8_t>(r);
        const uint8_t* b = depthB.ptr<uint8_t>(r);
        for (int64_t c = 0; c < width; ++c)
            for (const uint8_t v : {a[c], b[c]}) {
                const int64_t x = c + truncateDisparity(table[v]);
                if (x >= 0 && x < width)
                    return true;
            }
    }
    return false;
}

} // namespace

void checkComparablePixels(const PairImages& images, const std::string& cameraPath)
{
    const struct {
        const char* name;
        const cv::Mat& depthA;
        const cv::Mat& depthB;
        char side;
    } views[] = {{"left", images.depthLeftA, images.depthLeftB, 'L'},
                 {"right", images.depthRightA, images.depthRightB, 'R'}};
    for (const auto& v : views)
        if (!anyPixelArrivesInside(v.depthA, v.depthB, v.side))
            throw InputError(cameraPath + " (" + inputRole(kCameraFile) + "): no pixel of the " + v.name +
                             " view could be compared: with these camera values its depth maps of sets A and B "
                             "send every pixel outside the image");
}

PairResult scorePair(const PairImages& images, PairExtras* extras, ViewMetric metric)
{
    PairExtras local;
    PairExtras& e = extras != nullptr ? *extras : local;
    e.left.keepMaps = e.keepMaps;
    e.right.keepMaps = e.keepMaps;

    const auto left = [&] {
        return evaluateOneView(metric, "left", images.viewLeft, images.depthLeftA, images.depthLeftB, 'L', e.left);
    };
    const auto right = [&] {
        return evaluateOneView(metric, "right", images.viewRight, images.depthRightA, images.depthRightB, 'R',
                               e.right);
    };

    PairResult result;
    // The two views share nothing: the left one runs on a second thread.
    // Phase reports and map windows keep their order on one thread.
    if (e.parallelViews && !g_printPhases && !g_showMaps) {
        const CallSettings settings = currentCallSettings();
        std::future<ViewResult> leftResult = std::async(std::launch::async, [&] {
            adoptCallSettings(settings);
            return left();
        });
        std::exception_ptr rightError;
        try {
            result.right = right();
        } catch (...) {
            rightError = std::current_exception();
        }
        result.left = leftResult.get(); // the left view's error comes first
        if (rightError)
            std::rethrow_exception(rightError);
    } else {
        result.left = left();
        result.right = right();
    }
    result.score = combineViewErrors(result.left.error, result.right.error);
    return result;
}

int runScoring(const Options& options, std::ostream& out, std::ostream& err, ViewMetric metric)
{
    if (isSequenceRun(options))
        return runSequence(options, out, err, metric);
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

    loadCameraFile(options.paths[kCameraFile]);
    const PairImages images = loadPairImages(options.paths, err);
    g_imageWidth = images.viewLeft.cols;
    g_imageHeight = images.viewLeft.rows;
    checkComparablePixels(images, options.paths[kCameraFile]);

    PairExtras extras;
    extras.keepMaps = !options.saveMapsDir.empty();
    if (extras.keepMaps)
        makeMapDirectory(options.saveMapsDir);
    // stdout carries nothing but the JSON document.
    setPhaseOutput(options.json ? err : out);

    const int start = clockMilliseconds();
    const PairResult result = scorePair(images, &extras, metric);
    if (!options.json && !extras.keepMaps) {
        // The measured time includes writing the score line.
        writeScoreLine(out, result.score);
        writeTimeLine(out, secondsSince(start));
        return exitStatusFor(options, result.score);
    }

    const float seconds = secondsSince(start);
    // The maps come first so that a map that cannot be written fails the
    // run before any result is printed.
    if (extras.keepMaps) {
        saveViewMaps(options.saveMapsDir, "left", images.viewLeft, extras.left);
        saveViewMaps(options.saveMapsDir, "right", images.viewRight, extras.right);
    }
    if (options.json) {
        writeJsonResult(out, options.paths, result, seconds);
    } else {
        writeScoreLine(out, result.score);
        writeTimeLine(out, seconds);
    }

    return exitStatusFor(options, result.score);
}
