#pragma once

// The kinds of frame source, of which FrameSource::open picks one by the
// path, and what they share. Internal to the frame source files.

#include "driver/frame_source.h"

#include <memory>
#include <string>

std::unique_ptr<FrameSource> openImageFile(const std::string& path, int index);
std::unique_ptr<FrameSource> openImagePattern(const std::string& pattern, int index, long long firstFrame);

// Throws InputError as "PATH (ROLE): PROBLEM".
[[noreturn]] void failInput(const std::string& path, int index, const std::string& problem);

// "64x48"
std::string sizeText(long long width, long long height);
