#include "video_files.h"

long long chromaBytes(const std::string& format, int w, int h)
{
    if (format == "400")
        return 0;
    if (format == "420")
        return 2LL * ((w + 1) / 2) * ((h + 1) / 2);
    if (format == "422")
        return 2LL * ((w + 1) / 2) * h;
    return 2LL * w * h;
}

void appendFrame(std::ofstream& out, const cv::Mat& luma, const std::string& format, int frame)
{
    out.write(reinterpret_cast<const char*>(luma.data), static_cast<std::streamsize>(luma.total()));
    const std::string chroma(static_cast<std::size_t>(chromaBytes(format, luma.cols, luma.rows)),
                             static_cast<char>(40 + frame));
    out.write(chroma.data(), static_cast<std::streamsize>(chroma.size()));
}

void writeRawYuv(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format)
{
    std::ofstream out(path, std::ios::binary);
    for (std::size_t f = 0; f < frames.size(); ++f)
        appendFrame(out, frames[f], format, static_cast<int>(f));
}

void writeY4m(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format,
              const std::string& header, const std::string& frameLine)
{
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W" << frames[0].cols << " H" << frames[0].rows << header << "\n";
    for (std::size_t f = 0; f < frames.size(); ++f) {
        out << frameLine << "\n";
        appendFrame(out, frames[f], format, static_cast<int>(f));
    }
}

