// The per-view metric alone, on generated scenes: where the time of a run
// goes once the images are in memory.
#include "core/depth_to_disparity.h"
#include "metric/evaluate_view.h"
#include "sample/scene.h"

#include <benchmark/benchmark.h>

#include <map>
#include <thread>

using namespace morvex::detail;

namespace {

struct BenchScene {
    SampleScene scene;
    morvex::Camera camera;
};

// A generated scene of the given size, made once.
const BenchScene& sceneOfSize(int width, int height)
{
    static std::map<std::pair<int, int>, BenchScene> scenes;
    auto found = scenes.find({width, height});
    if (found == scenes.end()) {
        SampleScene scene = makeSampleScene({width, height, 1, 0});
        const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
        found = scenes.emplace(std::make_pair(width, height), BenchScene{scene, camera}).first;
    }
    return found->second;
}

morvex::ViewResult leftView(const BenchScene& s)
{
    return evaluateDepthView(s.scene.left, s.scene.depthLeftA, s.scene.depthLeftB, morvex::depthConversion(s.camera, 'L'), {});
}

morvex::ViewResult rightView(const BenchScene& s)
{
    return evaluateDepthView(s.scene.right, s.scene.depthRightA, s.scene.depthRightB, morvex::depthConversion(s.camera, 'R'), {});
}

void depthView(benchmark::State& state)
{
    const BenchScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(leftView(scene));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void rightDepthView(benchmark::State& state)
{
    const BenchScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(rightView(scene));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

// Both views at once, on two threads, as a single pair's run scores them.
void bothViews(benchmark::State& state)
{
    const BenchScene& scene = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        std::thread left([&] { benchmark::DoNotOptimize(leftView(scene)); });
        benchmark::DoNotOptimize(rightView(scene));
        left.join();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1) * 2);
}

void floatView(benchmark::State& state)
{
    const BenchScene& s = sceneOfSize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    cv::Mat view;
    s.scene.left.convertTo(view, CV_32F);
    const cv::Mat dispA = morvex::depthToDisparity(s.scene.depthLeftA, s.camera, 'L');
    const cv::Mat dispB = morvex::depthToDisparity(s.scene.depthLeftB, s.camera, 'L');
    for (auto _ : state)
        benchmark::DoNotOptimize(morvex::evaluateView(view, dispA, dispB));
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

} // namespace

BENCHMARK(depthView)->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(rightDepthView)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);
BENCHMARK(bothViews)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(floatView)->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
