// Raw planar 8-bit YUV: frames of a size and format given on the command
// line, back to back with no headers; the luma plane comes first.

#include "readers/frame_source_kinds.h"

namespace {

bool isRawYuvFormat(const std::string& format)
{
    return format == "420" || format == "400" || format == "422" || format == "444";
}

class RawYuvSource final : public FrameSource {
public:
    RawYuvSource(const std::string& path, morvex::Input input, const SequenceFormat& format)
        : path_(path), input_(input), file_(path, input), size_(format.width, format.height)
    {
        if (format.width <= 0 || format.height <= 0)
            file_.fail("raw YUV has no header, so its frame size is needed: give it with --size WxH");
        if (format.width > kMaxSide || format.height > kMaxSide)
            file_.fail("--size " + morvex::sizeText(format.width, format.height) + " is larger than " +
                       std::to_string(kMaxSide) + " pixels on a side");
        if (!isRawYuvFormat(format.yuvFormat))
            file_.fail("unknown YUV format '" + format.yuvFormat + "'; --yuv-format takes 420, 400, 422 or 444");
        frameBytes_ = static_cast<long long>(format.width) * format.height +
                      chromaBytes(format.yuvFormat, format.width, format.height);

        const long long bytes = file_.byteSize();
        if (bytes % frameBytes_ != 0)
            file_.fail("is " + std::to_string(bytes) + " bytes, not a whole number of " +
                       morvex::sizeText(format.width, format.height) + " " + formatLabel(format.yuvFormat) +
                       " frames of " + std::to_string(frameBytes_) + " bytes; check --size and --yuv-format");
        frameCount_ = bytes / frameBytes_;
        if (frameCount_ == 0)
            file_.fail("is empty: it holds no frames");
    }

    bool isVideo() const override { return true; }
    long long frameCount() const override { return frameCount_; }
    cv::Size frameSize() const override { return size_; }

    cv::Mat readFrame(long long k) override
    {
        if (k < 0 || k >= frameCount_)
            failNoSuchFrame(path_, input_, k, frameCount_);
        return file_.readLuma(k * frameBytes_, size_, k);
    }

private:
    std::string path_;
    morvex::Input input_;
    PlanarFile file_;
    cv::Size size_;
    long long frameBytes_ = 0;
    long long frameCount_ = 0;
};

} // namespace

std::unique_ptr<FrameSource> openRawYuv(const std::string& path, morvex::Input input, const SequenceFormat& format)
{
    return std::make_unique<RawYuvSource>(path, input, format);
}
