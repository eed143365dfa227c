#pragma once

// The six images of a pair as the command line reads them: once for a pair
// of single image files, frame by frame for a sequence.

#include "readers/frame_source.h"
#include "readers/input_files.h"

#include <morvex/morvex.h>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// Whether a path names a video input: a raw .yuv or a .y4m file, or a
// printf-style pattern of numbered image files such as left_%04d.png.
bool isSequencePath(const std::string& path);

// Whether any of the six image inputs is a video.
bool isSequence(const InputPaths& paths);

// Fails unless an image of `size` may join a pair whose left view has
// leftSize; `path` names it in the message.
void checkImageSize(cv::Size size, morvex::Input input, cv::Size leftSize, const std::string& path);

// Reads the six images of a single pair and checks their sizes. `warning`
// is set to the warning for an image with more than 8 bits per sample (the
// first such), and is left empty otherwise. Throws morvex::Error naming the
// first bad input in command-line order.
morvex::PairImages readPairImages(const InputPaths& paths, std::string& warning);

// The frames of a sequence of pairs: videos are read frame by frame, single
// images once, standing for every frame.
class PairFrames {
public:
    // Opens the six image inputs and settles which frames there are: `frames`
    // of them from format.firstFrame, or every frame that all videos have
    // from there. Checks that every video holds them and that every input has
    // the left view's size. Throws morvex::Error.
    PairFrames(const InputPaths& paths, const SequenceFormat& format, std::optional<long long> frames);

    long long first() const { return first_; }
    long long count() const { return count_; }
    cv::Size frameSize() const { return size_; }

    // The images of frame `frame` (first() to first() + count() - 1). Any
    // number of threads may read at once; each video is read by one of them
    // at a time. Throws morvex::Error naming the input.
    morvex::PairImages read(long long frame);

    // The warning for an input with more than 8 bits per sample, from the
    // frames read so far, or "".
    std::string warning() const;

private:
    InputPaths paths_;
    std::array<std::unique_ptr<FrameSource>, 6> sources_;
    std::array<std::mutex, 6> locks_;
    std::array<cv::Mat, 6> stills_;
    long long first_ = 0;
    long long count_ = 0;
    cv::Size size_;
};
