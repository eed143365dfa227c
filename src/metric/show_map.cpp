#include "metric/show_map.h"

#include "driver/settings.h"

#include <opencv2/highgui.hpp>

#include <cmath>
#include <cstdint>
#include <string>

// The low eight bits of t truncated toward zero; values past the 64-bit
// range and NaN (a map without range) give 0.
static uint8_t lowByteOfTruncation(float t)
{
    if (!(std::fabs(t) < 9.2e18f))
        return 0;
    return static_cast<uint8_t>(static_cast<uint64_t>(static_cast<int64_t>(t)) & 0xFFu);
}

cv::Mat renderMap(cv::Mat map, bool autoRange)
{
    float low = 0.0f;
    float high = g_peakValue;
    if (autoRange) {
        low = 100000.0f;
        high = -100000.0f;
        for (int r = 0; r < map.rows; ++r) {
            const float* row = map.ptr<float>(r);
            for (int c = 0; c < map.cols; ++c) {
                if (low > row[c])
                    low = row[c];
                if (row[c] > high)
                    high = row[c];
            }
        }
    }
    const float span = high - low;

    cv::Mat image = cv::Mat::zeros(map.rows, map.cols, CV_8U);
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        uint8_t* out = image.ptr<uint8_t>(r);
        for (int c = 0; c < map.cols; ++c) {
            const float t = ((row[c] - low) * 255.0f) / span;
            out[c] = lowByteOfTruncation(t);
        }
    }
    return image;
}

void showMap(cv::Mat map, const char* windowName, bool autoRange)
{
    if (!g_showMaps)
        return;
    cv::imshow(std::string(windowName), renderMap(map, autoRange));
    cv::waitKey(0);
}
