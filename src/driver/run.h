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
    ViewDetails left, right;       // details of each view, maps included when asked
};

// The two views as float maps of grey values 0..255.
struct FloatViews {
    cv::Mat left, right;
};
FloatViews toFloatViews(const PairImages& images);

// Converts the depth maps and runs the metric on both views. The camera
// values and the image size must be set. Throws InputError when a view has
// no pixel that can be compared.
PairResult scorePair(const PairImages& images, PairExtras* extras = nullptr);
PairResult scorePair(const PairImages& images, const FloatViews& views, PairExtras* extras = nullptr);

// The whole run for a command line: camera file, images, score, output,
// maps. Returns the exit status; input errors propagate as exceptions.
int runScoring(const Options& options, std::ostream& out, std::ostream& err);
