#include "driver/sequence_run.h"

#include "driver/camera.h"
#include "driver/map_writer.h"
#include "driver/progress.h"
#include "driver/scoring.h"
#include "driver/sequence_report.h"
#include "driver/settings.h"
#include "driver/view_metric.h"
#include "readers/pair_reader.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// Work shared by the scoring threads: the next frame to take, the results in
// frame order, and the first error met.
struct SharedWork {
    std::mutex lock;
    std::condition_variable changed;
    long long nextFrame = 0; // index into the run, 0 .. count - 1
    std::vector<FrameResult> results;
    std::vector<char> finished;
    long long finishedCount = 0;
    std::string error;
    std::atomic<bool> failed{false};
};

void scoreFrames(PairFrames& inputs, const Options& options, const morvex::Camera& camera, SharedWork& work)
{
    // The frames are the parallel work here.
    morvex::PairOptions pairOptions;
    pairOptions.view = viewOptionsOfRun(std::cout);
    pairOptions.parallelViews = false;
    pairOptions.view.disparityErrors = options.json || !options.csvPath.empty();
    pairOptions.view.keepMaps = !options.saveMapsDir.empty();
    for (;;) {
        long long index;
        {
            std::lock_guard<std::mutex> hold(work.lock);
            if (work.failed || work.nextFrame >= inputs.count())
                return;
            index = work.nextFrame++;
        }
        const long long frame = inputs.first() + index;
        FrameResult result;
        result.frame = frame;
        try {
            const morvex::PairImages pair = inputs.read(frame);
            result.pair = scorePair(pair, camera, options.paths, pairOptions);
            if (pairOptions.view.keepMaps) {
                // On the fixed scale, so that the frames can be compared.
                result.heatmaps = {morvex::errorHeatmap(pair.viewLeft, result.pair.left.maps),
                                   morvex::errorHeatmap(pair.viewRight, result.pair.right.maps)};
                result.pair.left.maps = result.pair.right.maps = {};
            }
        } catch (const std::exception& e) {
            std::lock_guard<std::mutex> hold(work.lock);
            if (!work.failed)
                work.error = std::string("frame ") + std::to_string(frame) + ": " + e.what();
            work.failed = true;
            work.changed.notify_all();
            return;
        }
        std::lock_guard<std::mutex> hold(work.lock);
        work.results[index] = result;
        work.finished[index] = 1;
        ++work.finishedCount;
        work.changed.notify_all();
    }
}

int threadCount(const Options& options, long long frames)
{
    int threads = options.threads > 0 ? options.threads : static_cast<int>(std::thread::hardware_concurrency());
    return static_cast<int>(std::max<long long>(1, std::min<long long>(std::max(threads, 1), frames)));
}

// Once for the run: the first frame whose differences vanish, and how many more do.
void warnOfVanishedDifferences(const std::vector<FrameResult>& results, std::ostream& err)
{
    const auto first = std::find_if(results.begin(), results.end(),
                                    [](const FrameResult& f) { return f.pair.vanishedDifferences > 0; });
    if (first == results.end())
        return;
    const auto more =
        std::count_if(first + 1, results.end(), [](const FrameResult& f) { return f.pair.vanishedDifferences > 0; });
    err << "morvex: warning: frame " << first->frame
        << (more > 0 ? " (and " + std::to_string(more) + " more)" : std::string()) << ": " << first->pair.warning()
        << std::endl;
}

void rejectPerViewOutputs(const Options& options)
{
    const char* option = options.printPhases ? "--phases" : options.showMaps ? "--show-maps" : nullptr;
    if (option != nullptr)
        throw UsageError(std::string(option) + " works on single stereo pairs only, not on sequences");
    if (options.heatmapScale == "image")
        throw UsageError("--heatmap-scale image works on single stereo pairs only; the heat map videos of a "
                         "sequence have the fixed scale");
}

} // namespace

int runSequence(const Options& options, std::ostream& out, std::ostream& err)
{
    rejectPerViewOutputs(options);
    readCameraParameters(options.paths[static_cast<int>(morvex::Input::CameraFile)]);
    const morvex::Camera camera = cameraFromGlobals();
    PairFrames inputs(options.paths, options.sequenceFormat, options.frameCount);
    g_imageWidth = inputs.frameSize().width;
    g_imageHeight = inputs.frameSize().height;

    SharedWork work;
    work.results.resize(inputs.count());
    work.finished.assign(inputs.count(), 0);
    std::unique_ptr<SequenceWriter> writer = makeSequenceWriter(options, out);
    std::vector<std::unique_ptr<HeatmapVideo>> videos;
    if (!options.saveMapsDir.empty()) {
        makeMapDirectory(options.saveMapsDir);
        for (const char* name : {"/left_heatmap.y4m", "/right_heatmap.y4m"})
            videos.push_back(std::make_unique<HeatmapVideo>(options.saveMapsDir + name));
    }

    const int start = clockMilliseconds();
    std::vector<std::thread> threads;
    for (int t = threadCount(options, inputs.count()); t > 0; --t)
        threads.emplace_back(scoreFrames, std::ref(inputs), std::cref(options), std::cref(camera), std::ref(work));

    // Results are passed on in frame order as soon as they are in; the
    // progress line is redrawn in between.
    ProgressLine progress(err, inputs.count(), !options.quiet && isatty(STDERR_FILENO));
    long long written = 0;
    {
        std::unique_lock<std::mutex> hold(work.lock);
        while (written < inputs.count() && !work.failed) {
            work.changed.wait_for(hold, std::chrono::milliseconds(200));
            while (written < inputs.count() && work.finished[written] && !work.failed) {
                FrameResult& result = work.results[written++];
                writer->frame(result);
                try {
                    for (std::size_t v = 0; v < videos.size(); ++v) {
                        videos[v]->write(result.heatmaps[v]);
                        result.heatmaps[v].release();
                    }
                } catch (const std::exception& e) {
                    // The scoring threads stop at their next frame.
                    work.error = e.what();
                    work.failed = true;
                }
            }
            progress.update(work.finishedCount);
        }
    }
    for (std::thread& t : threads)
        t.join();
    progress.clear();
    if (work.failed)
        throw morvex::Error(morvex::Input::None, work.error);
    for (const auto& video : videos)
        video->close();
    const std::string warning = inputs.warning();
    if (!warning.empty())
        err << "morvex: warning: " << warning << std::endl;
    warnOfVanishedDifferences(work.results, err);

    const PooledSequence pooled = poolSequence(work.results);
    writer->finish(pooled, start);
    if (options.minScore && !(pooled.score >= *options.minScore))
        return kExitBelowMin;
    return kExitOk;
}
