#include "driver/sequence_run.h"

#include "driver/frame_source.h"
#include "driver/map_writer.h"
#include "driver/progress.h"
#include "driver/run.h"
#include "driver/sequence_report.h"
#include "driver/settings.h"
#include "driver/view_metric.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

bool isSequencePath(const std::string& path)
{
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto endsWith = [&](const char* suffix) {
        const std::string s(suffix);
        return lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
    };
    return endsWith(".yuv") || endsWith(".y4m") || path.find('%') != std::string::npos;
}

bool isSequenceRun(const Options& options)
{
    for (int i = 0; i < kCameraFile; ++i)
        if (isSequencePath(options.paths[i]))
            return true;
    return false;
}

namespace {

// The six image inputs of a sequence run. Videos are read frame by frame,
// one reader at a time per input; single images are read once and stand for
// every frame.
struct SequenceInputs {
    std::array<std::unique_ptr<FrameSource>, 6> sources;
    std::array<std::mutex, 6> locks;
    std::array<cv::Mat, 6> stills;
    long long first = 0;
    long long count = 0;
};

// Opens the inputs and settles which frames are scored: --frames from
// --first, or every frame that all videos have.
void openInputs(const Options& options, SequenceInputs& inputs)
{
    long long shortest = -1;
    for (int i = 0; i < 6; ++i) {
        inputs.sources[i] = FrameSource::open(options.paths[i], i, options.sequenceFormat);
        const long long frames = inputs.sources[i]->frameCount();
        if (inputs.sources[i]->isVideo() && (shortest < 0 || frames < shortest))
            shortest = frames;
    }
    inputs.first = options.sequenceFormat.firstFrame;
    inputs.count = options.frameCount ? *options.frameCount : shortest - inputs.first;
    // A video that lacks a requested frame says so itself, naming the frames
    // it holds.
    const long long last = inputs.first + std::max(inputs.count, 1LL) - 1;
    for (int i = 0; i < 6; ++i) {
        FrameSource& source = *inputs.sources[i];
        if (source.isVideo() && last >= source.frameCount()) {
            source.readFrame(last);
            failInput(options.paths[i], i, "has no frame " + std::to_string(last));
        }
    }
}

// Reads the single images and checks that every input has the left view's
// size; the size becomes the run's image size.
void prepareInputs(const Options& options, SequenceInputs& inputs)
{
    const cv::Size leftSize = inputs.sources[kLeftView]->frameSize();
    for (int i = 0; i < 6; ++i) {
        FrameSource& source = *inputs.sources[i];
        if (!source.isVideo())
            inputs.stills[i] = source.readFrame(0);
        checkImageSize(cv::Mat(source.frameSize(), CV_8U), i, leftSize, options.paths[i]);
    }
    g_imageWidth = leftSize.width;
    g_imageHeight = leftSize.height;
}

PairImages readPair(SequenceInputs& inputs, const Options& options, long long frame)
{
    std::array<cv::Mat, 6> images;
    for (int i = 0; i < 6; ++i) {
        if (!inputs.sources[i]->isVideo()) {
            images[i] = inputs.stills[i];
            continue;
        }
        std::lock_guard<std::mutex> hold(inputs.locks[i]);
        images[i] = inputs.sources[i]->readFrame(frame);
        checkImageSize(images[i], i, cv::Size(g_imageWidth, g_imageHeight),
                       options.paths[i] + " frame " + std::to_string(frame));
    }
    PairImages pair;
    pair.viewLeft = images[0];
    pair.viewRight = images[1];
    pair.depthLeftA = images[2];
    pair.depthRightA = images[3];
    pair.depthLeftB = images[4];
    pair.depthRightB = images[5];
    return pair;
}

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

void scoreFrames(SequenceInputs& inputs, const Options& options, const morvex::Camera& camera, SharedWork& work)
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
            if (work.failed || work.nextFrame >= inputs.count)
                return;
            index = work.nextFrame++;
        }
        const long long frame = inputs.first + index;
        FrameResult result;
        result.frame = frame;
        try {
            const PairImages pair = readPair(inputs, options, frame);
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

void warnOfDeepSamples(const Options& options, const SequenceInputs& inputs, std::ostream& err)
{
    for (int i = 0; i < 6; ++i)
        if (inputs.sources[i]->deeperThan8Bits()) {
            err << deepSamplesWarning(options.paths[i], i, inputs.sources[i]->deepValuesBelow256()) << std::endl;
            return;
        }
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
    const morvex::Camera camera = loadCameraFile(options.paths[kCameraFile]);
    SequenceInputs inputs;
    openInputs(options, inputs);
    prepareInputs(options, inputs);

    SharedWork work;
    work.results.resize(inputs.count);
    work.finished.assign(inputs.count, 0);
    std::unique_ptr<SequenceWriter> writer = makeSequenceWriter(options, out);
    std::vector<std::unique_ptr<HeatmapVideo>> videos;
    if (!options.saveMapsDir.empty()) {
        makeMapDirectory(options.saveMapsDir);
        for (const char* name : {"/left_heatmap.y4m", "/right_heatmap.y4m"})
            videos.push_back(std::make_unique<HeatmapVideo>(options.saveMapsDir + name));
    }

    const int start = clockMilliseconds();
    std::vector<std::thread> threads;
    for (int t = threadCount(options, inputs.count); t > 0; --t)
        threads.emplace_back(scoreFrames, std::ref(inputs), std::cref(options), std::cref(camera), std::ref(work));

    // Results are passed on in frame order as soon as they are in; the
    // progress line is redrawn in between.
    ProgressLine progress(err, inputs.count, !options.quiet && isatty(STDERR_FILENO));
    long long written = 0;
    {
        std::unique_lock<std::mutex> hold(work.lock);
        while (written < inputs.count && !work.failed) {
            work.changed.wait_for(hold, std::chrono::milliseconds(200));
            while (written < inputs.count && work.finished[written] && !work.failed) {
                FrameResult& result = work.results[written++];
                writer->frame(result);
                try {
                    for (std::size_t v = 0; v < videos.size(); ++v) {
                        videos[v]->write(result.heatmaps[v]);
                        result.heatmaps[v].release();
                    }
                } catch (const InputError& e) {
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
        throw InputError(work.error);
    for (const auto& video : videos)
        video->close();
    warnOfDeepSamples(options, inputs, err);
    warnOfVanishedDifferences(work.results, err);

    const PooledSequence pooled = poolSequence(work.results);
    writer->finish(pooled, start);
    if (options.minScore && !(pooled.score >= *options.minScore))
        return kExitBelowMin;
    return kExitOk;
}
