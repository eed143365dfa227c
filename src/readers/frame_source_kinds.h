#pragma once

// The kinds of frame source, of which FrameSource::open picks one by the
// path, and what they share. Internal to the frame source files.

#include "readers/frame_source.h"
#include "readers/input_files.h"

#include <fstream>
#include <memory>
#include <string>

std::unique_ptr<FrameSource> openImageFile(const std::string& path, morvex::Input input);
std::unique_ptr<FrameSource> openImagePattern(const std::string& pattern, morvex::Input input, long long firstFrame);
std::unique_ptr<FrameSource> openRawYuv(const std::string& path, morvex::Input input, const SequenceFormat& format);
std::unique_ptr<FrameSource> openY4m(const std::string& path, morvex::Input input);

// Bytes of the chroma planes of one frame, or -1 for an unknown format.
// Formats: 400, 420, 422, 444, and for Y4M also 411 and 444alpha.
long long chromaBytes(const std::string& format, long long width, long long height);

// "4:2:0", ..., for messages.
std::string formatLabel(const std::string& format);

// Largest width or height accepted from --size or a Y4M header; keeps
// frame byte counts far from overflow.
constexpr long long kMaxSide = 1 << 20;

// An open file of 8-bit planar frames, read at 64-bit byte offsets.
class PlanarFile {
public:
    // Checks that the file exists, is not a directory and can be opened.
    PlanarFile(const std::string& path, morvex::Input input);

    long long byteSize() const { return byteSize_; }
    std::ifstream& stream() { return in_; }

    // The luma plane of `frame` (for messages), which starts at `offset`.
    cv::Mat readLuma(long long offset, cv::Size size, long long frame);

    [[noreturn]] void fail(const std::string& problem) const { failInput(path_, input_, problem); }

private:
    std::string path_;
    morvex::Input input_;
    long long byteSize_ = 0;
    std::ifstream in_;
};

// The message for a frame number outside 0 .. count-1 of a video.
[[noreturn]] void failNoSuchFrame(const std::string& path, morvex::Input input, long long frame, long long count);
