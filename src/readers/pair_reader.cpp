#include "readers/pair_reader.h"

#include "readers/image_file.h"
#include "readers/png_reader.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

// Runs task(0) .. task(count - 1) on up to `count` threads, as many as
// there are cores; task must not throw.
template <typename Task>
void runConcurrently(int count, const Task& task)
{
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < count; i = next++)
            task(i);
    };
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    for (int t = 1; t < std::min(std::max(cores, 1), count); ++t) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break; // fewer threads do the same work
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

morvex::PairImages pairOf(std::array<cv::Mat, 6>& images)
{
    return {images[0], images[1], images[2], images[3], images[4], images[5]};
}

} // namespace

bool isSequencePath(const std::string& path)
{
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto endsWith = [&](const char* suffix) {
        const std::string s(suffix);
        return lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
    };
    return endsWith(".yuv") || endsWith(".y4m") || path.find('%') != std::string::npos;
}

bool isSequence(const InputPaths& paths)
{
    return std::any_of(paths.begin(), paths.begin() + 6, isSequencePath);
}

void checkImageSize(cv::Size size, morvex::Input input, cv::Size leftSize, const std::string& path)
{
    const std::string problem = morvex::imageSizeProblem(size, leftSize);
    if (!problem.empty())
        failInput(path, input, problem);
}

morvex::PairImages readPairImages(const InputPaths& paths, std::string& warning)
{
    struct Loaded {
        cv::Mat image;
        bool deeper = false;
        std::exception_ptr error;
    };
    // The sizes in the PNG headers are checked first, so that a mismatch
    // costs no decoding; only as long as every earlier input's size is known
    // that way, so that of several bad inputs the first is still named.
    cv::Size leftSize;
    for (int i = 0; i < 6; ++i) {
        std::error_code ec;
        const cv::Size size = std::filesystem::is_regular_file(paths[i], ec) && isPngFile(paths[i])
                                  ? pngImageSize(paths[i])
                                  : cv::Size();
        if (size.empty())
            break;
        if (i == 0)
            leftSize = size;
        checkImageSize(size, inputAt(i), leftSize, paths[i]);
    }

    std::array<Loaded, 6> loaded;
    runConcurrently(6, [&](int i) {
        try {
            loaded[i].image = loadGreyImage(paths[i], inputAt(i), loaded[i].deeper);
        } catch (...) {
            loaded[i].error = std::current_exception();
        }
    });

    // Checked in command-line order, so that of several bad inputs the first
    // is named, as when they are read one by one.
    std::array<cv::Mat, 6> images;
    warning.clear();
    for (int i = 0; i < 6; ++i) {
        if (loaded[i].error)
            std::rethrow_exception(loaded[i].error);
        images[i] = loaded[i].image;
        checkImageSize(images[i].size(), inputAt(i), images[0].size(), paths[i]);
        if (loaded[i].deeper && warning.empty())
            warning = deepSamplesWarning(paths[i], inputAt(i), cv::countNonZero(images[i]) == 0);
    }
    return pairOf(images);
}

PairFrames::PairFrames(const InputPaths& paths, const SequenceFormat& format, std::optional<long long> frames)
    : paths_(paths)
{
    long long shortest = -1;
    for (int i = 0; i < 6; ++i) {
        sources_[i] = FrameSource::open(paths[i], inputAt(i), format);
        const long long held = sources_[i]->frameCount();
        if (sources_[i]->isVideo() && (shortest < 0 || held < shortest))
            shortest = held;
    }
    first_ = format.firstFrame;
    count_ = frames ? *frames : shortest < 0 ? 1 : shortest - first_;
    // A video that lacks a requested frame says so itself, naming the frames
    // it holds.
    const long long last = first_ + std::max(count_, 1LL) - 1;
    for (int i = 0; i < 6; ++i) {
        FrameSource& source = *sources_[i];
        if (source.isVideo() && last >= source.frameCount()) {
            source.readFrame(last);
            failInput(paths[i], inputAt(i), "has no frame " + std::to_string(last));
        }
    }

    // The single images are read once; every input must have the left
    // view's size.
    size_ = sources_[0]->frameSize();
    for (int i = 0; i < 6; ++i) {
        FrameSource& source = *sources_[i];
        if (!source.isVideo())
            stills_[i] = source.readFrame(0);
        checkImageSize(source.frameSize(), inputAt(i), size_, paths[i]);
    }
}

morvex::PairImages PairFrames::read(long long frame)
{
    std::array<cv::Mat, 6> images;
    for (int i = 0; i < 6; ++i) {
        if (!sources_[i]->isVideo()) {
            images[i] = stills_[i];
            continue;
        }
        std::lock_guard<std::mutex> hold(locks_[i]);
        images[i] = sources_[i]->readFrame(frame);
        checkImageSize(images[i].size(), inputAt(i), size_, paths_[i] + " frame " + std::to_string(frame));
    }
    return pairOf(images);
}

std::string PairFrames::warning() const
{
    for (int i = 0; i < 6; ++i)
        if (sources_[i]->deeperThan8Bits())
            return deepSamplesWarning(paths_[i], inputAt(i), sources_[i]->deepValuesBelow256());
    return "";
}
