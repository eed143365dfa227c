// The library's calls: the camera file, the depth conversion, the score, its
// errors, and threads that score at once with their own sizes and cameras.
// Also the run's named calls on globals, which must give the library's bits.
#include "core/depth_to_disparity.h"
#include "driver/camera.h"
#include "driver/settings.h"
#include "driver/view_metric.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

std::string writeCameraFile(const std::string& text)
{
    static int counter = 0;
    const std::string path = makeTempDir("camera" + std::to_string(counter++)) + "/camera.txt";
    std::ofstream(path) << text;
    return path;
}

cv::Mat depthRow(std::initializer_list<uint8_t> values)
{
    return cv::Mat(std::vector<uint8_t>(values), true).reshape(1, 1);
}

std::string errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const morvex::Error& e) {
        return e.what();
    }
    return "no error";
}

morvex::PairImages pairOf(const SampleScene& s)
{
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

} // namespace

TEST(CameraFile, LayoutDoesNotMatterAndTrailingTextIsIgnored)
{
    for (const char* text : {"1 2 3 4 5 6 7 0 10", "1\n2\n3\n4\n5\n6\n7\n0\n10\n", "1\t2\t3\t4 5\n6 7\t0\t10 trailing words 99"}) {
        const morvex::Camera camera = morvex::Camera::fromFile(writeCameraFile(text));
        EXPECT_EQ(camera.focalLength, 5.0f);
        EXPECT_EQ(camera.principalPointRight, 7.0f);
        EXPECT_EQ(camera.cameraPosMiddle(), 5.0f);
        EXPECT_EQ(camera.baselineLeft(), -5.0f);
        EXPECT_EQ(camera.baselineRight(), 5.0f);
    }
}

TEST(CameraFile, ShortFileLeavesTheRestAsTheyWere)
{
    g_cameraPosLeft = g_cameraPosRight = g_nearDepthRight = 0.0f;
    EXPECT_EQ(readCameraParameters(writeCameraFile("1 2 3 4 5 6 7 8")), 8);
    EXPECT_EQ(g_cameraPosRight, 0.0f);
    EXPECT_EQ(g_cameraPosMiddle, 4.0f);
    EXPECT_EQ(g_baselineLeft, 4.0f);
    EXPECT_EQ(g_baselineRight, -4.0f);

    g_nearDepthRight = g_cameraPosLeft = 0.0f;
    EXPECT_EQ(readCameraParameters(writeCameraFile("1 2 x 4 5 6 7 8 9")), 2);
    EXPECT_EQ(g_nearDepthRight, 0.0f);
    EXPECT_EQ(g_cameraPosLeft, 0.0f);
    EXPECT_EQ(readCameraParameters("/nonexistent/camera.txt"), -1);
}

TEST(CameraFile, ErrorsNameTheFileAndTheProblem)
{
    const std::string shortFile = writeCameraFile("1 2 x");
    EXPECT_EQ(errorOf([&] { morvex::Camera::fromFile(shortFile); }),
              shortFile + " (camera file): needs nine numbers (near and far depth of each camera, focal length, "
                          "both principal points, both camera positions), but only 2 could be read");
    EXPECT_EQ(errorOf([] { morvex::Camera::fromText("1 2 3 4 5 6 7 3e38 3e38"); }),
              "camera file: the camera positions are too large to compute the middle camera and the baselines");
}

TEST(DepthToDisparity, EndsOfTheDepthRangeAndShift)
{
    // near 10, far 100, focal 100, positions 0 and 10 (baselines -5, 5),
    // principal points 100 and 104 (shift 2 on the left, -2 on the right).
    const morvex::Camera camera = morvex::Camera::fromText("10 100 10 100 100 100 104 0 10");
    const cv::Mat left = morvex::depthToDisparity(depthRow({255, 0}), camera, 'L');
    const cv::Mat right = morvex::depthToDisparity(depthRow({255, 0}), camera, 'R');
    EXPECT_EQ(left.type(), CV_32F);
    EXPECT_EQ(left.at<float>(0, 0), -48.0f); // -500 / 10 + 2
    EXPECT_EQ(left.at<float>(0, 1), -3.0f);  // -500 / 100 + 2
    EXPECT_EQ(right.at<float>(0, 0), 48.0f);
    EXPECT_EQ(right.at<float>(0, 1), 3.0f);
    EXPECT_EQ(cv::norm(morvex::depthToDisparity(depthRow({255, 0}), camera, 'x'), right, cv::NORM_INF), 0.0);
}

TEST(DepthToDisparity, RoundsHalfToEvenAndSaturates)
{
    // Scale -0.5 per depth step from 0: values 5 and 7 give -2.5 and -3.5.
    const morvex::Camera halves = morvex::Camera::fromText("256 1e30 256 1e30 1088 231 231 0 60");
    EXPECT_EQ(static_cast<float>(morvex::disparityMapping(halves, 'L').scale), -0.5f);
    const cv::Mat disp = morvex::depthToDisparity(depthRow({5, 7, 4, 255}), halves, 'L');
    EXPECT_EQ(disp.at<float>(0, 0), -2.0f);
    EXPECT_EQ(disp.at<float>(0, 1), -4.0f);
    EXPECT_EQ(disp.at<float>(0, 2), -2.0f);
    EXPECT_EQ(disp.at<float>(0, 3), -128.0f); // -127.5

    const morvex::Camera huge = morvex::Camera::fromText("1e-38 1e-30 1e-38 1e-30 1e30 0 0 0 10"); // about 2e66
    EXPECT_EQ(morvex::disparityMapping(huge, 'R').scale, INFINITY);
    EXPECT_EQ(morvex::depthToDisparity(depthRow({1}), huge, 'R').at<float>(0, 0), 2147483648.0f);
}

TEST(DepthToDisparity, DegenerateCamerasGiveConstantMaps)
{
    const morvex::Camera sameDepths = morvex::Camera::fromText("50 50 50 50 100 0 0 0 10"); // span 0
    const cv::Mat constant = morvex::depthToDisparity(depthRow({0, 128, 255}), sameDepths, 'R');
    EXPECT_EQ(constant.at<float>(0, 0), 10.0f);
    EXPECT_EQ(constant.at<float>(0, 2), 10.0f);
    const morvex::Camera samePositions = morvex::Camera::fromText("10 100 10 100 100 100 104 5 5"); // only the shift
    EXPECT_EQ(cv::countNonZero(morvex::depthToDisparity(depthRow({0, 255}), samePositions, 'L') != 2.0f), 0);
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
        EXPECT_EQ(heat.at<cv::Vec3b>(5, 5), cv::Vec3b(50, 50, 50));
        EXPECT_EQ(heat.at<cv::Vec3b>(25, 255), plasma.at<cv::Vec3b>(0, 1)); // the bar ends at the top colour
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

TEST(Score, ErrorsNameTheInput)
{
    const SampleScene scene = makeSampleScene({64, 48, 1, 0});
    const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
    morvex::PairImages pair = pairOf(scene);
    pair.depthRightB = scene.depthRightB(cv::Rect(0, 0, 64, 40));
    EXPECT_EQ(errorOf([&] { morvex::score(pair, camera); }),
              "depth map of the right view, set B: is 64x40 but the left view is 64x48");
    pair = pairOf(scene);
    pair.depthLeftA = cv::Mat(48, 64, CV_8UC3);
    EXPECT_EQ(errorOf([&] { morvex::score(pair, camera); }),
              "depth map of the left view, set A: is not 8-bit grey (CV_8UC1)");
    pair = pairOf(scene);
    pair.viewLeft = cv::Mat();
    EXPECT_EQ(errorOf([&] { morvex::score(pair, camera); }),
              "left view: is 0x0; images must be at least 8 pixels wide and high");
    morvex::Camera far = camera;
    far.focalLength = 1e9f; // every disparity leaves the image
    EXPECT_EQ(errorOf([&] { morvex::score(pairOf(scene), far); }),
              "camera file: no pixel of the left view could be compared: with these camera values its depth maps "
              "of sets A and B send every pixel outside the image");
    morvex::Camera bad = camera;
    bad.farDepthRight = -1.0f;
    EXPECT_EQ(errorOf([&] { morvex::score(pairOf(scene), bad); }),
              "camera file: far depth of the right camera is -1; depths must be above 0");
}

// Scenes of different sizes with different cameras, scored on many threads
// at once: each result is the one a single call gives.
TEST(Score, ThreadsWithTheirOwnSizesAndCameras)
{
    struct Job {
        SampleScene scene;
        morvex::Camera camera;
        morvex::PairResult alone;
    };
    std::vector<Job> jobs;
    const cv::Size sizes[] = {{64, 48}, {203, 101}, {320, 240}, {97, 131}};
    for (int i = 0; i < 8; ++i) {
        const cv::Size size = sizes[i % 4];
        Job job{makeSampleScene({size.width, size.height, static_cast<unsigned>(i), 0}), {}, {}};
        job.camera = morvex::Camera::fromText(job.scene.cameraText);
        job.camera.focalLength *= 1.0f + 0.1f * static_cast<float>(i);
        job.alone = morvex::score(pairOf(job.scene), job.camera);
        jobs.push_back(job);
    }
    std::vector<morvex::PairResult> together(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round)
                together[i] = morvex::score(pairOf(jobs[i].scene), jobs[i].camera);
        });
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(std::memcmp(&together[i].score, &jobs[i].alone.score, sizeof(float)), 0) << i;
        EXPECT_EQ(together[i].left.countedPixels, jobs[i].alone.left.countedPixels) << i;
        EXPECT_EQ(together[i].right.error, jobs[i].alone.right.error) << i;
    }
}

// The run's calls on globals build the library's arguments from them.
TEST(RunGlobals, NamedCallsGiveTheLibrarysResults)
{
    const SampleScene scene = makeSampleScene({96, 64, 5, 0});
    ASSERT_EQ(readCameraParameters(writeCameraFile(scene.cameraText)), 9);
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
