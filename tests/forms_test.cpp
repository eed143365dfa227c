// Every form of the metric (8-bit depth maps on each Highway target and one
// lane at a time, float disparities) against its straightforward form in
// tests/reference: the same per-view results to the bit and the same counts,
// with OpenCV's dispatch to vector code on and off.
#include "driver/camera.h"
#include "driver/settings.h"
#include "metric/depth_rows.h"
#include "metric/error_terms.h"
#include "core/depth_to_disparity.h"
#include "metric/evaluate_view.h"
#include "reference/reference.h"
#include "sample/scene.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

using namespace morvex::detail;

namespace {

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameBits(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    for (int r = 0; r < a.rows; ++r)
        if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0)
            return false;
    return true;
}

// The reference reads the camera and the image size from the run's globals.
morvex::Camera useCamera(const std::string& cameraText, cv::Size size)
{
    const morvex::Camera camera = morvex::Camera::fromText(cameraText);
    setCameraGlobals(camera);
    g_imageWidth = size.width;
    g_imageHeight = size.height;
    return camera;
}

void withDispatchOnAndOff(const std::function<void(const std::string&)>& check)
{
    for (bool optimized : {true, false}) {
        cv::setUseOptimized(optimized);
        check(optimized ? " (dispatch on)" : " (dispatch off)");
    }
    cv::setUseOptimized(true);
}

void expectSameResult(const morvex::ViewResult& fast, float slow, const reference::ViewCounts& counts,
                      const std::string& what)
{
    EXPECT_TRUE(sameBits(fast.error, slow)) << what << ": " << fast.error << " against " << slow;
    EXPECT_EQ(fast.countedPixels, counts.countedTerms) << what;
    EXPECT_EQ(fast.disagreeingPixels, counts.disagreeingPixels) << what;
}

void withEachTarget(const std::function<void(bool vectorCode, const std::string&)>& check)
{
    for (const int64_t target : depthRowTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        check(true, std::string(", ") + hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
    check(false, ", one lane");
}

// The reference's conversion and metric against the library's conversion,
// depth form and float form.
void expectSameDepthView(const morvex::Camera& camera, const cv::Mat& view8, const cv::Mat& depthA8,
                         const cv::Mat& depthB8, char side, const std::string& what)
{
    withDispatchOnAndOff([&](const std::string& dispatch) {
        const std::string where = what + " side " + side + dispatch;
        cv::Mat view, dispA, dispB;
        view8.convertTo(view, CV_32F, 1.0, 0.0);
        reference::depthToDisparity(depthA8, dispA, side);
        reference::depthToDisparity(depthB8, dispB, side);
        // Past the 32-bit range the library saturates where OpenCV's
        // conversion gives INT_MIN on this CPU; either sends the pixel out.
        if (cv::norm(dispA, cv::NORM_INF) < 2147483520.0 && cv::norm(dispB, cv::NORM_INF) < 2147483520.0) {
            EXPECT_TRUE(sameBits(morvex::depthToDisparity(depthA8, camera, side), dispA)) << where;
            EXPECT_TRUE(sameBits(morvex::depthToDisparity(depthB8, camera, side), dispB)) << where;
        }

        reference::ViewCounts counts;
        const float slow = reference::evaluateView(view, dispA, dispB, &counts);
        withEachTarget([&](bool vectorCode, const std::string& target) {
            morvex::ViewOptions options;
            options.vectorCode = vectorCode;
            expectSameResult(evaluateDepthView(view8, depthA8, depthB8, morvex::depthConversion(camera, side), options), slow, counts,
                             where + target);
            // The edge strengths' rows run as vector code in the float form too.
            expectSameResult(morvex::evaluateView(view, dispA, dispB, options), slow, counts,
                             where + target + ", float maps");
        });
    });
}

void expectSameScene(const SampleScene& scene, const std::string& cameraText, const std::string& what)
{
    const morvex::Camera camera = useCamera(cameraText, scene.left.size());
    expectSameDepthView(camera, scene.left, scene.depthLeftA, scene.depthLeftB, 'L', what);
    expectSameDepthView(camera, scene.right, scene.depthRightA, scene.depthRightB, 'R', what);
}

struct SceneCase {
    int width, height;
    const char* camera; // empty: the scene's own
};

class GeneratedScene : public ::testing::TestWithParam<SceneCase> {};

} // namespace

TEST_P(GeneratedScene, EveryFormAsTheReference)
{
    const SceneCase c = GetParam();
    const SampleScene scene = makeSampleScene({c.width, c.height, static_cast<unsigned>(c.width), 0});
    expectSameScene(scene, *c.camera != '\0' ? c.camera : scene.cameraText,
                    std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.camera);
}

INSTANTIATE_TEST_SUITE_P(FastForm, GeneratedScene,
                         ::testing::Values(SceneCase{8, 9, ""}, SceneCase{16, 16, ""}, SceneCase{64, 48, ""},
                                           SceneCase{641, 479, ""}, SceneCase{1001, 600, ""},
                                           SceneCase{1920, 1080, ""},
                                           // Disparities of thousands of pixels, and of billions.
                                           SceneCase{203, 101, "1 10 1 10 30000 100 104 0 10"},
                                           SceneCase{203, 101, "1 10 1 10 3e12 100 104 0 10"},
                                           // Disparities that change sign within the depth range.
                                           SceneCase{160, 90, "1 10 1 10 500 100 360 0 1"}));

TEST(FastForm, PerturbedDepthSets)
{
    const SampleScene scene = makeSampleScene({160, 120, 7, 0});
    const morvex::Camera camera = useCamera(scene.cameraText, scene.left.size());
    const cv::Mat truth = scene.depthLeftA;
    const cv::Mat disc = cv::getStructuringElement(cv::MORPH_ELLIPSE, {5, 5});
    cv::RNG rng(11);

    const std::vector<std::pair<std::string, std::function<cv::Mat()>>> setsB = {
        {"identical", [&] { return truth.clone(); }},
        {"grown edges", [&] { cv::Mat m; cv::dilate(truth, m, disc); return m; }},
        {"shrunk edges", [&] { cv::Mat m; cv::erode(truth, m, disc); return m; }},
        {"blurred", [&] { cv::Mat m; cv::GaussianBlur(truth, m, {7, 7}, 2.0); return m; }},
        {"noise", [&] {
             cv::Mat noise(truth.size(), CV_16S), m;
             rng.fill(noise, cv::RNG::UNIFORM, -3, 4);
             cv::add(truth, noise, m, cv::noArray(), CV_8U);
             return m;
         }},
        {"holes", [&] {
             cv::Mat m = truth.clone();
             cv::circle(m, {40, 30}, 9, cv::Scalar(0), cv::FILLED);
             cv::circle(m, {120, 90}, 6, cv::Scalar(255), cv::FILLED);
             return m;
         }},
        {"inverted", [&] { return cv::Mat(255 - truth); }},
        {"one depth", [&] { return cv::Mat(truth.size(), CV_8U, cv::Scalar(90)); }},
    };
    for (const auto& [name, makeSetB] : setsB)
        expectSameDepthView(camera, scene.left, truth, makeSetB(), 'L', "set B " + name);

    // Maps without range reach both normalisations: a flat set A has no
    // disparity edge, a flat view no edge at all.
    const cv::Mat flat(truth.size(), CV_8U, cv::Scalar(128));
    expectSameDepthView(camera, scene.left, flat, scene.depthLeftB, 'L', "one depth in set A");
    expectSameDepthView(camera, flat, truth, scene.depthLeftB, 'L', "uniform view");
}

TEST(FastForm, AbsurdAndFractionalDisparities)
{
    const SampleScene scene = makeSampleScene({96, 64, 3, 0});
    const morvex::Camera camera = useCamera(scene.cameraText, scene.left.size());
    cv::Mat view;
    scene.left.convertTo(view, CV_32F, 1.0, 0.0);
    const cv::Mat dispA = morvex::depthToDisparity(scene.depthLeftA, camera, 'L');
    const cv::Mat dispB = morvex::depthToDisparity(scene.depthLeftB, camera, 'L');

    // At the ends of the range a map may have, the search's columns
    // saturate; fractions truncate toward zero.
    cv::Mat absurd = dispB.clone();
    const float values[] = {2147483648.0f, -2147483648.0f, 2147483520.0f, -2147483520.0f, 1e9f, -33.5f};
    for (int i = 0; i < absurd.rows; ++i)
        for (int k = 0; k < 6; ++k)
            absurd.at<float>(i, (i * 7 + k * 13) % absurd.cols) = values[k];
    const cv::Mat fractional = dispB + cv::Scalar(-0.75);
    const std::pair<cv::Mat, cv::Mat> cases[] = {{dispA, absurd}, {absurd, dispA}, {dispA, fractional}};
    withDispatchOnAndOff([&](const std::string& dispatch) {
        for (const auto& [a, b] : cases) {
            reference::ViewCounts counts;
            const float slow = reference::evaluateView(view, a, b, &counts);
            expectSameResult(morvex::evaluateView(view, a, b), slow, counts, dispatch);
        }
    });
}

// Cameras for which a depth value lands within a rounding of a half pixel:
// there a fused multiply-add in the conversion rounds the disparity to the
// other whole pixel.
TEST(FastForm, DepthConversionOnHalfPixels)
{
    cv::Mat ramp(16, 16, CV_8U);
    for (int v = 0; v < 256; ++v)
        ramp.at<uint8_t>(v / 16, v % 16) = static_cast<uint8_t>(v);
    for (const char* cameraText : {"34.5 397.7 34.5 397.7 1212.7 589.9 579 0 17.4",
                                   "34.2 428.9 34.2 428.9 1055.3 334.5 325.9 0 4.6"}) {
        const morvex::Camera camera = useCamera(cameraText, ramp.size());
        withDispatchOnAndOff([&](const std::string& dispatch) {
            cv::Mat slow;
            reference::depthToDisparity(ramp, slow, 'L');
            EXPECT_TRUE(sameBits(morvex::depthToDisparity(ramp, camera, 'L'), slow)) << cameraText << dispatch;
        });
    }
}

// Names the targets compared (scripts/check-arm64 shows them).
TEST(FastForm, TargetsCompared)
{
    std::string names;
    for (const int64_t target : depthRowTargets())
        names += std::string(" ") + hwy::TargetName(target);
    std::printf("targets compared:%s\n", names.c_str());
    EXPECT_FALSE(names.empty());
}

namespace {

// A double of the given sign and size whose bits below float precision are
// the halfway pattern plus `offset`.
double offHalfway(double value, int64_t offset)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits = (bits & ~kBelowFloatPrecision) | ((kHalfwayBits + offset) & kBelowFloatPrecision);
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

} // namespace

// Which error estimates need the division: the vector code's verdicts are
// the scalar ones at and around the margin, on every target.
TEST(ErrorTermForms, VectorHalfwayTestMatchesScalar)
{
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::uniform_int_distribution<int64_t> nearby(-3 * static_cast<int64_t>(kHalfwayMargin),
                                                  3 * static_cast<int64_t>(kHalfwayMargin));
    std::uniform_int_distribution<int64_t> anywhere(-static_cast<int64_t>(kHalfwayBits),
                                                    static_cast<int64_t>(kHalfwayBits));
    std::vector<double> estimates(160000);
    for (size_t i = 0; i < estimates.size(); ++i)
        estimates[i] = offHalfway(value(random) * std::ldexp(1.0, static_cast<int>(random() % 16)),
                                  i % 32 < 8 ? anywhere(random) : nearby(random));
    int nearCount = 0;
    for (const double e : estimates)
        nearCount += nearHalfway(e);
    EXPECT_GT(nearCount, 20000);
    withEachTarget([&](bool vectorCode, const std::string& target) {
        if (!vectorCode)
            return;
        std::unique_ptr<bool[]> asSelf(new bool[estimates.size()]), asInvad(new bool[estimates.size()]);
        nearHalfwayLanes(estimates.data(), estimates.size(), asSelf.get(), asInvad.get());
        for (size_t i = 0; i < estimates.size(); ++i) {
            ASSERT_EQ(asSelf[i], nearHalfway(estimates[i])) << target << " " << std::hexfloat << estimates[i];
            ASSERT_EQ(asInvad[i], nearHalfway(estimates[i])) << target << " " << std::hexfloat << estimates[i];
        }
    });
}
