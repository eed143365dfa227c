// The plugin that reads every image format other than PNG, with OpenCV's
// image codecs.

#include "plugins/plugin_api.h"

#include <opencv2/imgcodecs.hpp>

#include <type_traits>

extern "C" bool morvexReadImage(const char* path, bool keepDepth, cv::Mat* image, std::string* problem)
{
    try {
        *image = cv::imread(path, keepDepth ? cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH : cv::IMREAD_GRAYSCALE);
        return true;
    } catch (const cv::Exception& e) {
        *problem = e.err;
    } catch (const std::exception& e) {
        *problem = e.what();
    } catch (...) {
        *problem = "unknown error";
    }
    return false;
}

static_assert(std::is_same<decltype(&morvexReadImage), ReadImageFunction>::value, "the tool calls it so");
