#include "readers/frame_source.h"

#include "readers/frame_source_kinds.h"
#include "readers/input_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

std::string lowerExtension(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

} // namespace

std::unique_ptr<FrameSource> FrameSource::open(const std::string& path, morvex::Input input, const SequenceFormat& format)
{
    if (path.find('%') != std::string::npos)
        return openImagePattern(path, input, format.firstFrame);
    const std::string extension = lowerExtension(path);
    if (extension == ".yuv")
        return openRawYuv(path, input, format);
    if (extension == ".y4m")
        return openY4m(path, input);
    return openImageFile(path, input);
}

void failNoSuchFrame(const std::string& path, morvex::Input input, long long frame, long long count)
{
    const std::string holds = count == 1 ? "it holds 1 frame (frame 0)"
                                         : "it holds " + std::to_string(count) + " frames (0 to " +
                                               std::to_string(count - 1) + ")";
    failInput(path, input, "has no frame " + std::to_string(frame) + "; " + holds);
}
