// The library's calls, and the run's named calls on globals, which must give
// the library's bits.
#include "driver/camera.h"
#include "driver/settings.h"
#include "driver/view_metric.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <fstream>
#include <limits>
#include <vector>

namespace {

std::string writeCameraFile(const std::string& text)
{
    static int counter = 0;
    const std::string path = makeTempDir("camera" + std::to_string(counter++)) + "/camera.txt";
    std::ofstream(path) << text;
    return path;
}

morvex::PairImages pairOf(const SampleScene& s)
{
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

} // namespace

TEST(CameraFile, LayoutDoesNotMatterAndTrailingTextIsIgnored)
{
    for (const char* text :
         {"1 2 3 4 5 6 7 0 10", "1\n2\n3\n4\n5\n6\n7\n0\n10\n", "1\t2\t3\t4 5\n6 7\t0\t10 trailing words 99"}) {
        const morvex::Camera camera = morvex::Camera::fromFile(writeCameraFile(text));
        EXPECT_EQ(camera.focalLength, 5.0f);
        EXPECT_EQ(camera.principalPointRight, 7.0f);
        EXPECT_EQ(camera.baselineRight(), 5.0f);
    }
}

// The run's reader changes no value unless the whole file can be used.
TEST(CameraFile, ShortFileLeavesEveryValueAsItWas)
{
    g_nearDepthLeft = g_cameraPosRight = 0.0f;
    EXPECT_THROW(readCameraParameters(writeCameraFile("1 2 3 4 5 6 7 8")), morvex::Error);
    EXPECT_EQ(g_nearDepthLeft, 0.0f);
    readCameraParameters(writeCameraFile("1 2 3 4 5 6 7 8 9"));
    EXPECT_EQ(g_cameraPosMiddle, 8.5f);
    EXPECT_EQ(g_baselineRight, 0.5f);
}

TEST(DepthToDisparity, WorkedValues)
{
    const char* const shifted = "10 100 10 100 100 100 104 0 10";
    const struct {
        const char* camera;
        char side;
        std::vector<uint8_t> depths;
        std::vector<float> disparities;
    } cases[] = {
        // Baselines -5 and 5, principal points 100 and 104 (shift 2 on the left, -2 on the right):
        // -500 / 10 + 2 and -500 / 100 + 2.
        {shifted, 'L', {255, 0}, {-48, -3}},
        {shifted, 'R', {255, 0}, {48, 3}},
        {shifted, 'x', {255, 0}, {48, 3}}, // any side but 'L' is the right camera
        // Scale -0.5 per depth step from 0: halves round to even, -127.5 to -128.
        {"256 1e30 256 1e30 1088 231 231 0 60", 'L', {5, 7, 4, 255}, {-2, -4, -2, -128}},
        // A scale of about 2e66 saturates.
        {"1e-38 1e-30 1e-38 1e-30 1e30 0 0 0 10", 'R', {1}, {2147483648.0f}},
        // Near and far depths equal (span 0), and camera positions equal (only the shift).
        {"50 50 50 50 100 0 0 0 10", 'R', {0, 128, 255}, {10, 10, 10}},
        {"10 100 10 100 100 100 104 5 5", 'L', {0, 255}, {2, 2}},
    };
    for (const auto& c : cases) {
        const cv::Mat disparity =
            morvex::depthToDisparity(cv::Mat(c.depths, true).reshape(1, 1), morvex::Camera::fromText(c.camera), c.side);
        ASSERT_EQ(disparity.type(), CV_32F);
        EXPECT_EQ(std::vector<float>(disparity.begin<float>(), disparity.end<float>()), c.disparities)
            << c.camera << ", side " << c.side;
    }
}

TEST(Maps, HeatMapsHaveAFixedScaleAndALabelledColourBar)
{
    // One pixel's weighted error is a quarter of the fixed top: the middle colour. On the image's own
    // scale it is the top colour.
    morvex::ViewMaps maps;
    maps.matSelfSim = cv::Mat::zeros(20, 40, CV_32F);
    maps.matSelfSim.at<float>(10, 20) = morvex::kHeatmapTop / 4;
    maps.matSelfWeight = maps.matValidSelf = cv::Mat::ones(20, 40, CV_32F);
    maps.matInvadSim = maps.matInvadWeight = maps.matValidInvad = cv::Mat::zeros(20, 40, CV_32F);
    const cv::Mat levels = (cv::Mat_<uchar>(1, 2) << 128, 255);
    cv::Mat plasma;
    cv::applyColorMap(levels, plasma, cv::COLORMAP_PLASMA);
    for (const auto& [top, level] : {std::pair(morvex::kHeatmapTop, 0), {0.0f, 1}}) {
        const cv::Mat heat = morvex::errorHeatmap(cv::Mat(20, 40, CV_8U, 100.0), maps, top);
        ASSERT_EQ(heat.size(), cv::Size(256, 50));
        EXPECT_EQ(heat.at<cv::Vec3b>(11, 21), plasma.at<cv::Vec3b>(0, level)); // widened by a pixel
        EXPECT_EQ(heat.at<cv::Vec3b>(25, 255), plasma.at<cv::Vec3b>(0, 1));    // the bar ends at the top colour
        cv::Mat labels;
        cv::inRange(heat.rowRange(36, 50), cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), labels);
        EXPECT_GT(cv::countNonZero(labels), 100);
    }
}

TEST(Score, LogarithmOfTheMeanError)
{
    EXPECT_EQ(morvex::formatFloat(morvex::combineViewErrors(0.01f, 0.01f)), "46.0517");
    EXPECT_EQ(morvex::formatFloat(morvex::combineViewErrors(0.04f, 0.0f)), "39.1202");
    EXPECT_EQ(morvex::combineViewErrors(0.04f, 0.0f), morvex::combineViewErrors(0.0f, 0.04f));
    EXPECT_EQ(morvex::formatFloat(morvex::combineViewErrors(0.0f, 0.0f)), "inf");
    EXPECT_TRUE(std::isnan(morvex::combineViewErrors(std::nanf(""), 0.01f)));
    EXPECT_EQ(morvex::formatFloat(31.41592f), "31.4159");
}

// The library's own check of its arguments; the tool and the Python module
// check sizes and cameras as it does (bad_input_test, test_bad_input.py).
TEST(Score, ColourImagesAreRefusedWithTheirRole)
{
    const SampleScene scene = makeSampleScene({64, 48, 1, 0});
    morvex::PairImages pair = pairOf(scene);
    pair.depthLeftA = cv::Mat(48, 64, CV_8UC3);
    try {
        morvex::score(pair, morvex::Camera::fromText(scene.cameraText));
        ADD_FAILURE() << "no error";
    } catch (const morvex::Error& e) {
        EXPECT_STREQ(e.what(), "depth map of the left view, set A: is not 8-bit grey (CV_8UC1)");
    }
}

TEST(RunGlobals, NamedCallsGiveTheLibrarysResults)
{
    const SampleScene scene = makeSampleScene({96, 64, 5, 0});
    readCameraParameters(writeCameraFile(scene.cameraText));
    g_imageWidth = 96;
    g_imageHeight = 64;
    const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
    cv::Mat view, dispA, dispB;
    scene.left.convertTo(view, CV_32F);
    depthToDisparity(scene.depthLeftA, dispA, 'L');
    depthToDisparity(scene.depthLeftB, dispB, 'L');
    EXPECT_EQ(cv::norm(dispA, morvex::depthToDisparity(scene.depthLeftA, camera, 'L'), cv::NORM_INF), 0.0);
    const morvex::PairResult pair = morvex::score(pairOf(scene), camera);
    EXPECT_EQ(evaluateView(view, dispA, dispB), pair.left.error);
}

namespace {

struct FloatView {
    cv::Mat view, dispA, dispB;
};

FloatView floatViewOf(const SampleScene& scene)
{
    const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
    FloatView v;
    scene.left.convertTo(v.view, CV_32F);
    v.dispA = morvex::depthToDisparity(scene.depthLeftA, camera, 'L');
    v.dispB = morvex::depthToDisparity(scene.depthLeftB, camera, 'L');
    return v;
}

} // namespace

// Values not finite or whose truncation does not fit in 32 bits are refused
// in every map, naming the first such pixel; the largest usable ones score.
TEST(EvaluateView, RefusesValuesThatAreNotFiniteOrTooLarge)
{
    const FloatView v = floatViewOf(makeSampleScene({64, 48, 2, 0}));
    const char* const names[] = {"view", "dispA", "dispB"};
    const float infinity = std::numeric_limits<float>::infinity();
    for (const float bad : {infinity, -infinity, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::max(), std::nextafter(2147483648.0f, infinity)})
        for (int m = 0; m < 3; ++m) {
            cv::Mat maps[] = {v.view.clone(), v.dispA.clone(), v.dispB.clone()};
            maps[m](cv::Rect(7, 5, 20, 10)).setTo(bad);
            maps[m].at<float>(9, 3) = bad;
            try {
                const morvex::ViewResult result = morvex::evaluateView(maps[0], maps[1], maps[2]);
                ADD_FAILURE() << names[m] << " with " << bad << ": error " << result.error << ", "
                              << result.countedPixels << " pixels counted";
            } catch (const morvex::Error& e) {
                EXPECT_EQ(e.what(), std::string(names[m]) + ": pixel (row 5, column 7) is " + morvex::formatFloat(bad) +
                                        "; values must be finite and at most 2147483648 in magnitude");
            }
        }
    for (const float largest : {2147483648.0f, -2147483648.0f}) {
        cv::Mat dispA = v.dispA.clone();
        dispA(cv::Rect(7, 5, 20, 10)).setTo(largest);
        const morvex::ViewResult result = morvex::evaluateView(v.view, dispA, v.dispB);
        EXPECT_GT(result.countedPixels, 0);
        EXPECT_TRUE(std::isfinite(result.error)) << result.error;
    }
}

// Float maps may share a buffer at any byte (numpy's frombuffer with an
// offset): they give the bits of the same maps in aligned memory.
TEST(EvaluateView, MapsAtOddAddressesGiveTheAlignedResults)
{
    const SampleScene scene = makeSampleScene({64, 48, 4, 0});
    const FloatView v = floatViewOf(scene);
    const size_t bytes = v.view.total() * sizeof(float);
    std::vector<unsigned char> buffer(3 * bytes + 3);
    cv::Mat odd[3];
    const cv::Mat* const aligned[] = {&v.view, &v.dispA, &v.dispB};
    for (int i = 0; i < 3; ++i) {
        odd[i] = cv::Mat(v.view.size(), CV_32F, buffer.data() + 1 + i * (bytes + 1));
        aligned[i]->copyTo(odd[i]);
    }
    morvex::ViewOptions options;
    options.keepMaps = true;
    options.disparityErrors = true;
    const morvex::ViewResult expected = morvex::evaluateView(v.view, v.dispA, v.dispB, options);
    const morvex::ViewResult result = morvex::evaluateView(odd[0], odd[1], odd[2], options);
    EXPECT_EQ(result.error, expected.error);
    EXPECT_EQ(result.countedPixels, expected.countedPixels);
    EXPECT_EQ(result.absDifferenceSum, expected.absDifferenceSum);

    const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
    EXPECT_EQ(cv::norm(morvex::disparityToDepth(odd[1], camera, 'L'), morvex::disparityToDepth(v.dispA, camera, 'L'),
                       cv::NORM_INF),
              0.0);
    cv::Mat oddMap(v.view.size(), CV_32F, buffer.data() + 1);
    expected.maps.matSelfWeight.copyTo(oddMap);
    EXPECT_EQ(
        cv::norm(morvex::renderMap(oddMap, true), morvex::renderMap(expected.maps.matSelfWeight, true), cv::NORM_INF),
        0.0);
}
