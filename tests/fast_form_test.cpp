// The tool's metric against its straightforward form (tests/reference): the
// same per-view results to the bit, and the same counts, on generated scenes
// of many sizes, on depth sets perturbed in the ways a depth estimator errs,
// on absurd disparities and on cameras whose disparities fall on a half;
// each with OpenCV's dispatch to vector code on (fused multiply-add on this
// kind of CPU) and off. Then the tool against morvex-reference end to end.
#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/settings.h"
#include "metric/evaluate_view.h"
#include "reference/reference.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

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

void useCamera(const std::string& cameraText)
{
    const std::string path = makeTempDir("fast_form_camera") + "/camera.txt";
    std::ofstream(path) << cameraText;
    ASSERT_EQ(readCameraParameters(path), 9);
}

void useScene(const SampleScene& scene)
{
    useCamera(scene.cameraText);
    g_imageWidth = scene.left.cols;
    g_imageHeight = scene.left.rows;
}

// Runs the check once with OpenCV's vector code dispatched as the CPU allows
// and once without it.
void withDispatchOnAndOff(const std::function<void(const std::string&)>& check)
{
    for (bool optimized : {true, false}) {
        cv::setUseOptimized(optimized);
        check(optimized ? " (dispatch on)" : " (dispatch off)");
    }
    cv::setUseOptimized(true);
}

// The reference's result and counts against a result of the tool.
void expectSameResult(float fast, const ViewDetails& details, float slow, const reference::ViewCounts& counts,
                      const std::string& what)
{
    EXPECT_TRUE(sameBits(fast, slow)) << what << ": " << fast << " against " << slow;
    EXPECT_EQ(details.countedTerms, counts.countedTerms) << what;
    EXPECT_EQ(details.disagreeingPixels, counts.disagreeingPixels) << what;
}

// evaluateView of both forms on the same float maps.
void expectSameFloatView(const cv::Mat& view, const cv::Mat& dispA, const cv::Mat& dispB, const std::string& what)
{
    ViewDetails details;
    reference::ViewCounts counts;
    const float fast = evaluateView(view, dispA, dispB, &details);
    const float slow = reference::evaluateView(view, dispA, dispB, &counts);
    expectSameResult(fast, details, slow, counts, what);
}

// One view from its 8-bit images: the reference's conversion and metric
// against the tool's evaluateDepthView, against its evaluateView on the
// reference's float maps, and the two conversions' maps.
void expectSameDepthView(const cv::Mat& view8, const cv::Mat& depthA8, const cv::Mat& depthB8, char side,
                         const std::string& what)
{
    withDispatchOnAndOff([&](const std::string& dispatch) {
        const std::string where = what + " side " + side + dispatch;
        cv::Mat view, dispA, dispB, fastDispA, fastDispB;
        view8.convertTo(view, CV_32F, 1.0, 0.0);
        reference::depthToDisparity(depthA8, dispA, side);
        reference::depthToDisparity(depthB8, dispB, side);
        depthToDisparity(depthA8, fastDispA, side);
        depthToDisparity(depthB8, fastDispB, side);
        EXPECT_TRUE(sameBits(fastDispA, dispA) && sameBits(fastDispB, dispB)) << where;

        reference::ViewCounts counts;
        const float slow = reference::evaluateView(view, dispA, dispB, &counts);
        ViewDetails details;
        const float fromDepth = evaluateDepthView(view8, depthA8, depthB8, side, &details);
        expectSameResult(fromDepth, details, slow, counts, where);
        ViewDetails floatDetails;
        const float fromFloats = evaluateView(view, dispA, dispB, &floatDetails);
        expectSameResult(fromFloats, floatDetails, slow, counts, where + ", float maps");
    });
}

void expectSameScene(const SampleScene& scene, const std::string& what)
{
    expectSameDepthView(scene.left, scene.depthLeftA, scene.depthLeftB, 'L', what);
    expectSameDepthView(scene.right, scene.depthRightA, scene.depthRightB, 'R', what);
}

std::string sizeName(const cv::Mat& image)
{
    return std::to_string(image.cols) + "x" + std::to_string(image.rows);
}

} // namespace

class GeneratedScene : public ::testing::TestWithParam<cv::Size> {};

TEST_P(GeneratedScene, BothViewsAsTheReference)
{
    const cv::Size size = GetParam();
    const SampleScene scene = makeSampleScene({size.width, size.height, static_cast<unsigned>(size.width), 0});
    useScene(scene);
    expectSameScene(scene, sizeName(scene.left));
}

INSTANTIATE_TEST_SUITE_P(FastForm, GeneratedScene,
                         ::testing::Values(cv::Size(8, 9), cv::Size(16, 16), cv::Size(64, 48), cv::Size(641, 479),
                                           cv::Size(1001, 600), cv::Size(1920, 1080)),
                         [](const ::testing::TestParamInfo<cv::Size>& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

TEST(FastForm, PerturbedDepthSets)
{
    const SampleScene scene = makeSampleScene({160, 120, 7, 0});
    useScene(scene);
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
        {"shifted", [&] {
             cv::Mat m;
             cv::copyMakeBorder(truth.colRange(0, truth.cols - 4), m, 0, 0, 4, 0, cv::BORDER_REPLICATE);
             return m;
         }},
        {"inverted", [&] { return cv::Mat(255 - truth); }},
        {"one depth", [&] { return cv::Mat(truth.size(), CV_8U, cv::Scalar(90)); }},
    };
    for (const auto& [name, makeSetB] : setsB)
        expectSameDepthView(scene.left, truth, makeSetB(), 'L', "set B " + name);

    // Maps without range reach both normalisations: a flat set A has no
    // disparity edge, a flat view no edge at all.
    const cv::Mat flat(truth.size(), CV_8U, cv::Scalar(128));
    expectSameDepthView(scene.left, flat, scene.depthLeftB, 'L', "one depth in set A");
    expectSameDepthView(flat, truth, scene.depthLeftB, 'L', "uniform view");
}

TEST(FastForm, AbsurdAndFractionalDisparities)
{
    const SampleScene scene = makeSampleScene({96, 64, 3, 0});
    useScene(scene);
    cv::Mat view, dispA, dispB;
    scene.left.convertTo(view, CV_32F, 1.0, 0.0);
    depthToDisparity(scene.depthLeftA, dispA, 'L');
    depthToDisparity(scene.depthLeftB, dispB, 'L');

    // Past the 32-bit range and NaN, the search's columns saturate; fractions
    // truncate toward zero.
    cv::Mat absurd = dispB.clone();
    const float values[] = {3e9f, -3e9f, 2147483648.0f, -2147483648.0f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
    for (int i = 0; i < absurd.rows; ++i)
        for (int k = 0; k < 6; ++k)
            absurd.at<float>(i, (i * 7 + k * 13) % absurd.cols) = values[k];
    cv::Mat fractional = dispB + cv::Scalar(-0.75);
    withDispatchOnAndOff([&](const std::string& dispatch) {
        expectSameFloatView(view, dispA, absurd, "absurd set B" + dispatch);
        expectSameFloatView(view, absurd, dispA, "absurd set A" + dispatch);
        expectSameFloatView(view, dispA, fractional, "fractional set B" + dispatch);
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
    for (const char* camera : {"34.5 397.7 34.5 397.7 1212.7 589.9 579 0 17.4",
                               "34.2 428.9 34.2 428.9 1055.3 334.5 325.9 0 4.6"}) {
        useCamera(camera);
        withDispatchOnAndOff([&](const std::string& dispatch) {
            cv::Mat fast, slow;
            depthToDisparity(ramp, fast, 'L');
            reference::depthToDisparity(ramp, slow, 'L');
            EXPECT_TRUE(sameBits(fast, slow)) << camera << dispatch;
        });
    }
}

namespace {

// "left view error: X" and "right view error: Y" of morvex-reference --views.
float referenceViewError(const std::string& output, const std::string& side)
{
    const std::string label = side + " view error: ";
    const size_t at = output.find(label);
    return at == std::string::npos ? std::nanf("") : std::strtof(output.c_str() + at + label.size(), nullptr);
}

} // namespace

TEST(ReferenceBinary, ScoresAGeneratedSceneAsTheTool)
{
    const SampleScene scene = makeSampleScene({641, 479, 21, 0});
    const std::vector<std::string> args = sceneArguments(makeTempDir("fast_form_scene"), scene);
    std::vector<std::string> toolArgs = {"--json"}, referenceArgs = {"--views"};
    toolArgs.insert(toolArgs.end(), args.begin(), args.end());
    referenceArgs.insert(referenceArgs.end(), args.begin(), args.end());

    const ToolRun tool = runTool(toolArgs);
    ASSERT_EQ(tool.status, 0) << tool.err;
    const ToolRun slow = runProgram(MORVEX_REFERENCE_BINARY, referenceArgs);
    ASSERT_EQ(slow.status, 0) << slow.err;

    const nlohmann::json json = nlohmann::json::parse(tool.out);
    for (const std::string side : {"left", "right"}) {
        const float fast = static_cast<float>(json[side]["error"].get<double>());
        EXPECT_TRUE(sameBits(fast, referenceViewError(slow.out, side))) << side << "\n" << slow.out;
    }
    std::istringstream lines(slow.out);
    std::string scoreLine, timeLine, emptyLine;
    std::getline(lines, scoreLine);
    std::getline(lines, timeLine);
    std::getline(lines, emptyLine);
    EXPECT_EQ(scoreLine, "MORVEX Score: " + json["score_text"].get<std::string>());
    EXPECT_EQ(timeLine.rfind("Computational Time: ", 0), 0u) << timeLine;
    EXPECT_EQ(timeLine.substr(timeLine.size() - 5), "(sec)");
    EXPECT_EQ(emptyLine, "");
}

TEST(ReferenceBinary, TooFewArgumentsGiveUsage)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--views", "a", "b", "c", "d", "e", "f"}}) {
        const ToolRun run = runProgram(MORVEX_REFERENCE_BINARY, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("usage: morvex-reference"), std::string::npos) << run.err;
    }
}
