#include "readers/frame_source_kinds.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

long long chromaBytes(const std::string& format, long long width, long long height)
{
    const long long halfWidth = (width + 1) / 2;
    if (format == "400")
        return 0;
    if (format == "420")
        return 2 * halfWidth * ((height + 1) / 2);
    if (format == "422")
        return 2 * halfWidth * height;
    if (format == "444")
        return 2 * width * height;
    if (format == "411")
        return 2 * ((width + 3) / 4) * height;
    if (format == "444alpha")
        return 3 * width * height; // two chroma planes and the alpha plane
    return -1;
}

std::string formatLabel(const std::string& format)
{
    if (format == "444alpha")
        return "4:4:4 with alpha";
    if (format.size() == 3)
        return format.substr(0, 1) + ":" + format.substr(1, 1) + ":" + format.substr(2, 1);
    return format;
}

PlanarFile::PlanarFile(const std::string& path, morvex::Input input) : path_(path), input_(input)
{
    checkReadableFile(path, input);
    in_.open(path, std::ios::binary);
    if (!in_)
        fail(std::string("cannot be opened: ") + std::strerror(errno));
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    if (end < 0)
        fail("cannot be read to its end (not a regular file?)");
    byteSize_ = end;
}

cv::Mat PlanarFile::readLuma(long long offset, cv::Size size, long long frame)
{
    cv::Mat luma(size, CV_8UC1);
    const std::streamsize bytes = static_cast<std::streamsize>(size.width) * size.height;
    in_.clear();
    in_.seekg(offset);
    in_.read(reinterpret_cast<char*>(luma.data), bytes);
    if (in_.gcount() != bytes)
        fail("frame " + std::to_string(frame) + " cannot be read: the file ended " +
             std::to_string(bytes - in_.gcount()) + " bytes early");
    return luma;
}
