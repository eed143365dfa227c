// The plugin that reads every image format other than PNG, with OpenCV's
// image codecs.

#include "plugins/plugin_api.h"

#include <opencv2/imgcodecs.hpp>

#include <type_traits>

extern "C" bool morvexReadImage(const char* path, bool keepDepth, bool keepChannels, cv::Mat* image,
                                std::string* problem)
{
    try {
        const int colour = keepChannels ? cv::IMREAD_ANYCOLOR : cv::IMREAD_GRAYSCALE;
        *image = cv::imread(path, keepDepth ? colour | cv::IMREAD_ANYDEPTH : colour);
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
