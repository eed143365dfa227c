#pragma once

#include <morvex/morvex.h>
#include <opencv2/core.hpp>

#include <atomic>
#include <memory>
#include <string>

// How the command line describes the frames of a sequence.
struct SequenceFormat {
    int width = 0, height = 0;     // --size WxH; 0 when not given (needed for raw .yuv only)
    std::string yuvFormat = "420"; // --yuv-format of raw .yuv files: 420, 400, 422 or 444
    long long firstFrame = 0;      // --first: where counting the files of a pattern starts
};

// The file of frame `number` of a pattern of image files such as
// left_%04d.png. Throws morvex::Error, naming the pattern as `input`, when it
// is not such a pattern.
std::string patternFile(const std::string& pattern, morvex::Input input, long long number);

// Frame K of one of the six image inputs, which may be:
//  - a raw planar 8-bit .yuv file (size and format from SequenceFormat),
//  - a .y4m file (size and format from its header, 8-bit only),
//  - a printf-style pattern of image files with one %d-like conversion, such
//    as left_%04d.png, where frame K is the file numbered K ("%%" is a literal %),
//  - a single image file, which stands for every frame.
// Frames are returned as CV_8UC1 images owning their data; YUV and Y4M give
// their luma plane. Frames are read on demand, one at a time.
class FrameSource {
public:
    // Throws morvex::Error naming the file, its role and what is wrong.
    static std::unique_ptr<FrameSource> open(const std::string& path, morvex::Input input, const SequenceFormat& format);

    virtual ~FrameSource() = default;

    // False for a single image.
    virtual bool isVideo() const = 0;

    // Frames are numbered from 0 and frameCount() is one past the last one;
    // for a pattern that is firstFrame + the number of consecutive files
    // found from firstFrame on. -1 for a single image (any frame).
    virtual long long frameCount() const = 0;

    // Throws morvex::Error (naming the input and the frames it holds) when frame
    // k does not exist or cannot be read. Not to be called from two threads
    // at once on the same source.
    virtual cv::Mat readFrame(long long k) = 0;

    // Every frame has this size.
    virtual cv::Size frameSize() const = 0;

    // True once an image file read had more than 8 bits per sample, of which
    // only the high 8 bits are kept. Raw YUV and Y4M are always 8-bit.
    bool deeperThan8Bits() const { return deeperThan8Bits_; }
    // True when, besides, every such image held values below 256 only: high bytes of 0.
    bool deepValuesBelow256() const { return deeperThan8Bits_ && !deepHighBytes_; }

protected:
    void noteDepth(bool deeperThan8Bits, const cv::Mat& image)
    {
        if (!deeperThan8Bits)
            return;
        deeperThan8Bits_ = true;
        if (cv::countNonZero(image) > 0)
            deepHighBytes_ = true;
    }

private:
    std::atomic<bool> deeperThan8Bits_{false};
    std::atomic<bool> deepHighBytes_{false};
};
