#include "driver/frame_source.h"

#include "driver/frame_source_kinds.h"
#include "driver/inputs.h"

std::unique_ptr<FrameSource> FrameSource::open(const std::string& path, int inputIndex, const SequenceFormat& format)
{
    if (path.find('%') != std::string::npos)
        return openImagePattern(path, inputIndex, format.firstFrame);
    return openImageFile(path, inputIndex);
}

void failInput(const std::string& path, int index, const std::string& problem)
{
    throw InputError(path + " (" + inputRole(index) + "): " + problem);
}

std::string sizeText(long long width, long long height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}
