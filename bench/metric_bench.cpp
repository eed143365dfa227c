// The per-view metric alone, on generated scenes: where the time of a run
// goes once the images are in memory.
#include "driver/call_settings.h"
#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/settings.h"
#include "metric/evaluate_view.h"
#include "sample/scene.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// A scene of the given size, its camera values set on this thread.
const SampleScene& sceneOfSize(int width, int height)
{
    static std::map<std::pair<int, int>, SampleScene> scenes;
    auto found = scenes.find({width, height});
    if (found == scenes.end())
        found = scenes.emplace(std::make_pair(width, height), makeSampleScene({width, height, 1, 0})).first;
    const std::string cameraPath = "/tmp/morvex-bench-camera-" + std::to_string(getpid()) + ".txt";
    std::ofstream(cameraPath) << found->second.cameraText;
    readCameraParameters(cameraPath);
    std::remove(cameraPath.c_str());
    g_imageWidth = width;
    g_imageHeight = height;
    return found->second;
}

void depthView(benchmark::State& state)
{
    const SampleScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(evaluateDepthView(scene.left, scene.depthLeftA, scene.depthLeftB, 'L', nullptr));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void rightDepthView(benchmark::State& state)
{
    const SampleScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(evaluateDepthView(scene.right, scene.depthRightA, scene.depthRightB, 'R', nullptr));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// Both views at once, on two threads, as a single pair's run scores them.
void bothViews(benchmark::State& state)
{
    const SampleScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const CallSettings settings = currentCallSettings();
    for (auto _ : state) {
        std::thread left([&] {
            adoptCallSettings(settings);
            benchmark::DoNotOptimize(evaluateDepthView(scene.left, scene.depthLeftA, scene.depthLeftB, 'L', nullptr));
        });
        benchmark::DoNotOptimize(evaluateDepthView(scene.right, scene.depthRightA, scene.depthRightB, 'R', nullptr));
        left.join();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1) * 2);
}

void floatView(benchmark::State& state)
{
    const SampleScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cv::Mat view, dispA, dispB;
    scene.left.convertTo(view, CV_32F);
    depthToDisparity(scene.depthLeftA, dispA, 'L');
    depthToDisparity(scene.depthLeftB, dispB, 'L');
    for (auto _ : state)
        benchmark::DoNotOptimize(evaluateView(view, dispA, dispB, nullptr));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

} // namespace

BENCHMARK(depthView)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(rightDepthView)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(bothViews)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(floatView)->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
