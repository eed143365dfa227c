#pragma once

#include "driver/inputs.h"
#include "driver/options.h"
#include "metric/evaluate_view.h"

#include <ostream>

// The result of one view.
struct ViewResult {
    float error = 0.0f;              // what evaluateView returned
    long long countedPixels = 0;     // error terms pooled
    long long disagreeingPixels = 0; // pixels whose two disparities differ
};

// The result of one stereo pair.
struct PairResult {
    ViewResult left, right;
    float score = 0.0f;
};

// Optional extras of a pair's computation.
struct PairExtras {
    bool keepMaps = false;         // fill the view details' maps
    bool parallelViews = true;     // score the two views on two threads
    ViewDetails left, right;       // details of each view, maps included when asked
};

// The metric that scores one view from its 8-bit view and depth maps, with
// the camera of side 'L' or 'R'. The tool runs evaluateDepthView; tests and
// benchmarks can run another form of the same metric.
using ViewMetric = float (*)(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB, char side,
                             ViewDetails* details);

// Fails, before any work is timed, when a view would have nothing to pool:
// the camera values (this thread's) send every pixel outside the image. The
// message names cameraPath as the camera file.
void checkComparablePixels(const PairImages& images, const std::string& cameraPath);

// Runs the metric on both views. The camera values and the image size must
// be set. Throws InputError when a view has no pixel that can be compared.
PairResult scorePair(const PairImages& images, PairExtras* extras = nullptr, ViewMetric metric = evaluateDepthView);

// The whole run for a command line: camera file, images, score, output,
// maps. Returns the exit status; input errors propagate as exceptions.
int runScoring(const Options& options, std::ostream& out, std::ostream& err,
               ViewMetric metric = evaluateDepthView);
