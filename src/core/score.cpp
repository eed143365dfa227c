#include "core/depth_to_disparity.h"
#include "metric/settings.h"
#include "metric/evaluate_view.h"
#include "metric/similarity_search.h"

#include <morvex/morvex.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <future>
#include <locale>
#include <sstream>

namespace morvex {

using detail::g_half;
using detail::g_peakValue;
using detail::g_reduceFactor;

namespace {

struct ViewInputs {
    const char* name;
    const cv::Mat& view;
    const cv::Mat& depthA;
    const cv::Mat& depthB;
    char side;
};

// Whether the search will count anything for a view: a pixel counts when its
// disparity in set A or in set B sends it to a column inside the row. An
// 8-bit depth has 256 disparities, converted once; most views answer at
// their first pixel.
bool anyPixelArrivesInside(const cv::Mat& depthA, const cv::Mat& depthB, const Camera& camera, char side)
{
    const std::array<float, 256> table = disparityTable(camera, side);
    const int64_t width = depthA.cols;
    for (int r = 0; r < depthA.rows; ++r) {
        const uint8_t* a = depthA.ptr<uint8_t>(r);
        const uint8_t* b = depthB.ptr<uint8_t>(r);
        for (int64_t c = 0; c < width; ++c)
            for (const uint8_t v : {a[c], b[c]}) {
                const int64_t x = c + detail::truncateDisparity(table[v]);
                if (x >= 0 && x < width)
                    return true;
            }
    }
    return false;
}

ViewResult evaluateOneView(const ViewInputs& in, const Camera& camera, const ViewOptions& options)
{
    ViewResult result =
        detail::evaluateDepthView(in.view, in.depthA, in.depthB, depthConversion(camera, in.side), options);
    if (result.countedPixels == 0)
        throw Error(Input::None, std::string("no pixel of the ") + in.name +
                                     " view could be compared: every pixel's disparity sends it outside the image");
    return result;
}

} // namespace

const char* version()
{
    return MORVEX_VERSION;
}

std::string sizeText(long long width, long long height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string imageSizeProblem(cv::Size size, cv::Size leftSize, const std::string& leftName)
{
    if (size != leftSize)
        return "is " + sizeText(size.width, size.height) + " but " + leftName + " is " +
               sizeText(leftSize.width, leftSize.height);
    if (size.width < g_reduceFactor || size.height < g_reduceFactor)
        return "is " + sizeText(size.width, size.height) + "; images must be at least " +
               std::to_string(g_reduceFactor) + " pixels wide and high";
    return "";
}

void checkPair(const PairImages& images, const Camera& camera)
{
    const std::string cameraProblem = camera.problem();
    if (!cameraProblem.empty())
        throw Error(Input::CameraFile, cameraProblem);

    const cv::Mat* const all[] = {&images.viewLeft,   &images.viewRight,  &images.depthLeftA,
                                  &images.depthRightA, &images.depthLeftB, &images.depthRightB};
    for (int i = 0; i < 6; ++i) {
        if (all[i]->type() != CV_8UC1 && !all[i]->empty())
            throw Error(static_cast<Input>(i), "is not 8-bit grey (CV_8UC1)");
        const std::string problem = imageSizeProblem(all[i]->size(), images.viewLeft.size());
        if (!problem.empty())
            throw Error(static_cast<Input>(i), problem);
    }

    const struct {
        const char* name;
        const cv::Mat& depthA;
        const cv::Mat& depthB;
        char side;
    } views[] = {{"left", images.depthLeftA, images.depthLeftB, 'L'},
                 {"right", images.depthRightA, images.depthRightB, 'R'}};
    for (const auto& v : views)
        if (!anyPixelArrivesInside(v.depthA, v.depthB, camera, v.side))
            throw Error(Input::CameraFile, std::string("no pixel of the ") + v.name +
                                               " view could be compared: with these camera values its depth maps "
                                               "of sets A and B send every pixel outside the image");
    for (const auto& v : views) {
        const std::array<float, 256> table = disparityTable(camera, v.side);
        if (std::all_of(table.begin(), table.end(), [&](float d) { return d == table[0]; }))
            throw Error(Input::CameraFile,
                        std::string("all 256 depth values of the ") + v.name + " view become one disparity, " +
                            formatFloat(table[0]) +
                            " pixels, so its depth maps cannot tell depths apart: the focal length must be in "
                            "pixels, and the near and far depths and the two camera positions must differ enough "
                            "to move a pixel");
    }
}

PairResult score(const PairImages& images, const Camera& camera, const PairOptions& options)
{
    checkPair(images, camera);
    const ViewInputs left{"left", images.viewLeft, images.depthLeftA, images.depthLeftB, 'L'};
    const ViewInputs right{"right", images.viewRight, images.depthRightA, images.depthRightB, 'R'};

    PairResult result;
    // The two views share nothing: the left one runs on a second thread.
    // Phase reports and map windows keep their order on one thread.
    const ViewOptions& view = options.view;
    if (options.parallelViews && !view.phaseLines && !view.showMap) {
        std::future<ViewResult> leftResult =
            std::async(std::launch::async, [&] { return evaluateOneView(left, camera, view); });
        std::exception_ptr rightError;
        try {
            result.right = evaluateOneView(right, camera, view);
        } catch (...) {
            rightError = std::current_exception();
        }
        result.left = leftResult.get(); // the left view's error comes first
        if (rightError)
            std::rethrow_exception(rightError);
    } else {
        // Each view's block of phase lines is labelled with its view.
        if (view.phaseLines)
            view.phaseLines("Left view:");
        result.left = evaluateOneView(left, camera, view);
        if (view.phaseLines)
            view.phaseLines("Right view:");
        result.right = evaluateOneView(right, camera, view);
    }
    result.score = combineViewErrors(result.left.error, result.right.error);
    if (result.left.disagreeingPixels == 0 && result.right.disagreeingPixels == 0)
        result.vanishedDifferences = cv::countNonZero(images.depthLeftA != images.depthLeftB) +
                                     static_cast<long long>(cv::countNonZero(images.depthRightA != images.depthRightB));
    return result;
}

float combineViewErrors(float errorLeft, float errorRight)
{
    const float rightPart = errorRight * g_half;
    const float leftPart = errorLeft * g_half;
    const float mean = rightPart + leftPart;
    const float root = sqrtf(mean);
    const float ratio = g_peakValue / root;
    return logf(ratio) * 20.0f;
}

std::string PairResult::scoreText() const
{
    return formatFloat(score);
}

std::string PairResult::warning() const
{
    if (vanishedDifferences == 0)
        return "";
    return "sets A and B differ in " + std::to_string(vanishedDifferences) +
           " pixels of their depth maps, but every difference vanishes in the whole-pixel disparities, so the "
           "score counts none of them";
}

std::string formatFloat(float value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic()); // whatever locale the program has set
    out << value;
    return out.str();
}

} // namespace morvex
