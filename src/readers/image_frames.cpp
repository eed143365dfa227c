// Frames from image files: one image standing for every frame, or a numbered
// series of images named by a printf-style pattern.

#include "readers/frame_source_kinds.h"
#include "readers/image_file.h"

#include <filesystem>

namespace {

class SingleImageSource final : public FrameSource {
public:
    SingleImageSource(const std::string& path, morvex::Input input) : path_(path), input_(input)
    {
        bool deeper = false;
        image_ = loadGreyImage(path, input, deeper);
        noteDepth(deeper, image_);
    }

    bool isVideo() const override { return false; }
    long long frameCount() const override { return -1; }
    cv::Size frameSize() const override { return image_.size(); }

    cv::Mat readFrame(long long k) override
    {
        if (k < 0)
            failInput(path_, input_, "has no frame " + std::to_string(k));
        return image_.clone();
    }

private:
    std::string path_;
    morvex::Input input_;
    cv::Mat image_;
};

// A pattern such as "left_%04d.png": one %d, %Nd or %0Nd conversion, and %%
// for a literal %.
class FramePattern {
public:
    FramePattern(const std::string& pattern, morvex::Input input)
    {
        bool found = false;
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] != '%') {
                (found ? suffix_ : prefix_) += pattern[i];
                continue;
            }
            if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
                (found ? suffix_ : prefix_) += '%';
                ++i;
                continue;
            }
            const std::size_t end = conversionEnd(pattern, i);
            const std::string conversion = pattern.substr(i, end - i);
            if (!parseConversion(conversion))
                failInput(pattern, input, "is a frame file pattern whose conversion '" + conversion +
                                              "' is not a frame number; use one %d, %04d or the like (%% for a "
                                              "literal %)");
            if (found)
                failInput(pattern, input, "is a frame file pattern with more than one conversion; use exactly one "
                                          "%d, %04d or the like (%% for a literal %)");
            found = true;
            i = end - 1;
        }
        if (!found)
            failInput(pattern, input, "is a frame file pattern without a frame number; use one %d, %04d or the like "
                                      "(%% for a literal %)");
    }

    std::string fileFor(long long number) const
    {
        std::string digits = std::to_string(number);
        if (digits.size() < static_cast<std::size_t>(width_))
            digits.insert(0, width_ - digits.size(), zeroPad_ ? '0' : ' ');
        return prefix_ + digits + suffix_;
    }

private:
    // One past the conversion starting at `start`: its flags, width,
    // precision and length modifiers, then its conversion letter.
    static std::size_t conversionEnd(const std::string& text, std::size_t start)
    {
        std::size_t end = start + 1;
        while (end < text.size() && std::string("0123456789-+ #.'hlLqjzt").find(text[end]) != std::string::npos)
            ++end;
        return std::min(end + 1, text.size());
    }

    // Accepts %d, %Nd and %0Nd with N below 100.
    bool parseConversion(const std::string& conversion)
    {
        if (conversion.size() < 2 || conversion.back() != 'd')
            return false;
        std::string middle = conversion.substr(1, conversion.size() - 2);
        zeroPad_ = !middle.empty() && middle[0] == '0';
        if (zeroPad_)
            middle.erase(0, 1);
        if (middle.size() > 2 || middle.find_first_not_of("0123456789") != std::string::npos ||
            (!middle.empty() && middle[0] == '0'))
            return false;
        width_ = middle.empty() ? 0 : std::stoi(middle);
        return true;
    }

    std::string prefix_, suffix_;
    bool zeroPad_ = false;
    int width_ = 0;
};

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

class ImagePatternSource final : public FrameSource {
public:
    ImagePatternSource(const std::string& pattern, morvex::Input input, long long firstFrame)
        : text_(pattern), input_(input), pattern_(pattern, input), first_(firstFrame)
    {
        if (first_ < 0)
            failInput(text_, input_, "cannot start at frame " + std::to_string(first_));
        end_ = first_;
        while (fileExists(pattern_.fileFor(end_)))
            ++end_;
        if (end_ == first_)
            failInput(text_, input_, "holds no frames from " + std::to_string(first_) + " on: " +
                                         pattern_.fileFor(first_) + " does not exist");
        size_ = readFrame(first_).size();
    }

    bool isVideo() const override { return true; }
    long long frameCount() const override { return end_; }
    cv::Size frameSize() const override { return size_; }

    cv::Mat readFrame(long long k) override
    {
        const std::string file = k >= 0 ? pattern_.fileFor(k) : "";
        if (k < 0 || k >= end_ || !fileExists(file))
            failMissing(k);
        bool deeper = false;
        cv::Mat image = loadGreyImage(file, input_, deeper);
        noteDepth(deeper, image);
        if (!size_.empty() && image.size() != size_)
            failInput(file, input_, "is " + morvex::sizeText(image.cols, image.rows) + " but frame " +
                                        std::to_string(first_) + " of " + text_ + " is " +
                                        morvex::sizeText(size_.width, size_.height));
        return image;
    }

private:
    [[noreturn]] void failMissing(long long k) const
    {
        std::string problem = "has no frame " + std::to_string(k);
        if (k >= 0 && k <= end_)
            problem += ": " + pattern_.fileFor(k) + " does not exist";
        else if (k > end_)
            problem += ": the files stop before " + pattern_.fileFor(end_) + ", which does not exist";
        const long long count = end_ - first_;
        const std::string firstFile = pattern_.fileFor(first_), lastFile = pattern_.fileFor(end_ - 1);
        if (count == 1)
            problem += "; the pattern holds 1 frame, number " + std::to_string(first_) + " (" + firstFile + ")";
        else
            problem += "; the pattern holds " + std::to_string(count) + " frames, numbers " +
                       std::to_string(first_) + " to " + std::to_string(end_ - 1) + " (" + firstFile + " to " +
                       lastFile + ")";
        failInput(text_, input_, problem);
    }

    std::string text_;
    morvex::Input input_;
    FramePattern pattern_;
    long long first_;
    long long end_ = 0;
    cv::Size size_;
};

} // namespace

std::string patternFile(const std::string& pattern, morvex::Input input, long long number)
{
    return FramePattern(pattern, input).fileFor(number);
}

std::unique_ptr<FrameSource> openImageFile(const std::string& path, morvex::Input input)
{
    return std::make_unique<SingleImageSource>(path, input);
}

std::unique_ptr<FrameSource> openImagePattern(const std::string& pattern, morvex::Input input, long long firstFrame)
{
    return std::make_unique<ImagePatternSource>(pattern, input, firstFrame);
}
