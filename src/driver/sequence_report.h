#pragma once

#include "driver/options.h"

#include <morvex/morvex.h>

#include <array>
#include <memory>
#include <ostream>
#include <vector>

// The result of one frame of a sequence.
struct FrameResult {
    long long frame = 0;
    morvex::PairResult pair;
    std::array<cv::Mat, 2> heatmaps; // of the left and right view with --save-maps, until written
};

// The result of a whole sequence.
struct PooledSequence {
    float errorLeft = 0.0f;  // mean of the frames' left-view errors
    float errorRight = 0.0f; // mean of the frames' right-view errors
    float score = 0.0f;      // the score of the two means
    int finiteFrames = 0;    // frames whose score is finite
    double meanScore = 0.0, minScore = 0.0, maxScore = 0.0; // over the finite frame scores
    long long worstFrame = -1; // frame with the lowest score
    // Each view's disparity-difference counts, summed over the frames.
    morvex::ViewResult differencesLeft, differencesRight;
};

// Pools the frames as the two views of one pair are pooled: each view's
// errors are averaged over the frames (in double), and the two means give
// the score. A single perfect frame does not make the whole run perfect.
PooledSequence poolSequence(const std::vector<FrameResult>& frames);

// Writes the results of a sequence run as they come in, frame by frame in
// order, then the pooled result.
class SequenceWriter {
public:
    virtual ~SequenceWriter() = default;
    virtual void frame(const FrameResult& result) = 0;
    // start is the clock reading at which the computation began.
    virtual void finish(const PooledSequence& pooled, int start) = 0;
};

// Text lines or JSON on out, as the options ask, plus a CSV file with --csv.
std::unique_ptr<SequenceWriter> makeSequenceWriter(const Options& options, std::ostream& out);
