#pragma once

#include <opencv2/core.hpp>

#include <cstddef>

// The orientation tag (274) of the first image directory of EXIF data in
// TIFF layout ("II" or "MM", 42, the directory's offset), as OpenCV's image
// reader takes it: the tag's first 16-bit word whatever its declared type
// and count, the first such tag when there are several. 1 (upright) when the
// data is cut short before it, has no such tag, or a value outside 1 to 8,
// and when an entry before it has a text or rational value that lies
// outside the data, where that reader stops.
int exifOrientation(const unsigned char* data, std::size_t size);

// The image turned or mirrored upright from an EXIF orientation 2 to 8
// (2 mirrored, 3 upside down, 6 a quarter turn clockwise needed, ...);
// the image itself for any other value.
cv::Mat orientImage(const cv::Mat& image, int orientation);
