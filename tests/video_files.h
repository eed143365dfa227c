#pragma once

// Writers of video files for tests: raw planar YUV and Y4M.

#include <opencv2/core.hpp>

#include <fstream>
#include <string>
#include <vector>

long long chromaBytes(const std::string& format, int w, int h);

// Each frame's luma, then chroma bytes that differ from frame to frame, so a
// reader that lands in the wrong plane sees it.
void appendFrame(std::ofstream& out, const cv::Mat& luma, const std::string& format, int frame);

void writeRawYuv(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format);

// `format` is the raw layout of the planes, `header` the rest of the header
// line after W and H, `frameLine` each frame's header line.
void writeY4m(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format,
              const std::string& header, const std::string& frameLine = "FRAME");
