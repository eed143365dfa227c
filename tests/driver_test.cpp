// The camera file, the depth-to-disparity conversion and the score formula.
#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/score.h"
#include "driver/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string writeTempFile(const std::string& text)
{
    static int counter = 0;
    const std::string path = ::testing::TempDir() + "morvex_camera_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".txt";
    std::ofstream(path) << text;
    return path;
}

void setCamera(const std::string& text)
{
    ASSERT_EQ(readCameraParameters(writeTempFile(text)), 9);
}

cv::Mat depthRow(std::initializer_list<uint8_t> values)
{
    return cv::Mat(std::vector<uint8_t>(values), true).reshape(1, 1);
}

} // namespace

TEST(CameraFile, LayoutDoesNotMatterAndTrailingTextIsIgnored)
{
    for (const char* text : {"1 2 3 4 5 6 7 0 10", "1\n2\n3\n4\n5\n6\n7\n0\n10\n", "1\t2\t3\t4 5\n6 7\t0\t10 trailing words 99"}) {
        setCamera(text);
        EXPECT_EQ(g_nearDepthLeft, 1.0f);
        EXPECT_EQ(g_focalLength, 5.0f);
        EXPECT_EQ(g_principalPointRight, 7.0f);
        EXPECT_EQ(g_cameraPosMiddle, 5.0f);
        EXPECT_EQ(g_baselineLeft, -5.0f);
        EXPECT_EQ(g_baselineRight, 5.0f);
    }
}

TEST(CameraFile, ShortFileLeavesTheRestAtZero)
{
    setCamera("0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(readCameraParameters(writeTempFile("1 2 3 4 5 6 7 8")), 8);
    EXPECT_EQ(g_cameraPosRight, 0.0f);
    EXPECT_EQ(g_cameraPosMiddle, 4.0f);
    EXPECT_EQ(g_baselineLeft, 4.0f);
    EXPECT_EQ(g_baselineRight, -4.0f);

    setCamera("0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(readCameraParameters(writeTempFile("1 2 x 4 5 6 7 8 9")), 2);
    EXPECT_EQ(g_nearDepthRight, 0.0f);
    EXPECT_EQ(g_cameraPosLeft, 0.0f);

    EXPECT_EQ(readCameraParameters("/nonexistent/camera.txt"), -1);
}

TEST(DepthToDisparity, EndsOfTheDepthRangeAndShift)
{
    // near 10, far 100, focal 100, positions 0 and 10 (baselines -5, 5),
    // principal points 100 and 104 (shift 2 on the left, -2 on the right).
    setCamera("10 100 10 100 100 100 104 0 10");
    cv::Mat left, right;
    depthToDisparity(depthRow({255, 0}), left, 'L');
    depthToDisparity(depthRow({255, 0}), right, 'R');
    EXPECT_EQ(left.type(), CV_32F);
    EXPECT_EQ(left.at<float>(0, 0), -48.0f);  // -500 / 10 + 2
    EXPECT_EQ(left.at<float>(0, 1), -3.0f);   // -500 / 100 + 2
    EXPECT_EQ(right.at<float>(0, 0), 48.0f);
    EXPECT_EQ(right.at<float>(0, 1), 3.0f);

    cv::Mat other;
    depthToDisparity(depthRow({255, 0}), other, 'x');
    EXPECT_EQ(cv::norm(other, right, cv::NORM_INF), 0.0);
}

TEST(DepthToDisparity, RoundsHalfToEven)
{
    // Scale -0.5 per depth step from 0: values 5 and 7 give -2.5 and -3.5.
    setCamera("256 1e30 256 1e30 1088 231 231 0 60");
    const DisparityMapping mapping = disparityMapping('L');
    EXPECT_EQ(static_cast<float>(mapping.scale), -0.5f);
    cv::Mat disp;
    depthToDisparity(depthRow({5, 7, 4, 255}), disp, 'L');
    EXPECT_EQ(disp.at<float>(0, 0), -2.0f);
    EXPECT_EQ(disp.at<float>(0, 1), -4.0f);
    EXPECT_EQ(disp.at<float>(0, 2), -2.0f);
    EXPECT_EQ(disp.at<float>(0, 3), -128.0f); // -127.5
}

TEST(DepthToDisparity, DegenerateCamerasGiveConstantMaps)
{
    setCamera("50 50 50 50 100 0 0 0 10"); // near == far: span 0
    cv::Mat disp;
    depthToDisparity(depthRow({0, 128, 255}), disp, 'R');
    EXPECT_EQ(disp.at<float>(0, 0), 10.0f);
    EXPECT_EQ(disp.at<float>(0, 2), 10.0f);

    setCamera("10 100 10 100 100 100 104 5 5"); // equal positions: only the shift
    depthToDisparity(depthRow({0, 255}), disp, 'L');
    EXPECT_EQ(disp.at<float>(0, 0), 2.0f);
    EXPECT_EQ(disp.at<float>(0, 1), 2.0f);
}

TEST(DepthToDisparity, MatchesTheMatrixExpressionWithoutVectorCode)
{
    setCamera("37.5 913 41.25 880 1234.5 310.25 322.75 -3.5 6.25");
    cv::Mat depth(48, 64, CV_8U);
    cv::randu(depth, 0, 256);
    for (char side : {'L', 'R'}) {
        const DisparityMapping m = disparityMapping(side);
        cv::Mat depthF, dispF, dispI, expected, actual;
        cv::setUseOptimized(false);
        depth.convertTo(depthF, CV_32F, 1.0, 0.0);
        depthF.convertTo(dispF, CV_32F, m.scale, m.offset);
        dispF.convertTo(dispI, CV_32S);
        dispI.convertTo(expected, CV_32F);
        cv::setUseOptimized(true);
        depthToDisparity(depth, actual, side);
        EXPECT_EQ(cv::norm(actual, expected, cv::NORM_INF), 0.0) << side;
    }
}

TEST(Score, LogarithmOfTheMeanError)
{
    EXPECT_EQ(formatFloat(combineViewErrors(0.01f, 0.01f)), "46.0517");
    EXPECT_EQ(formatFloat(combineViewErrors(0.04f, 0.0f)), "39.1202");
    EXPECT_EQ(combineViewErrors(0.04f, 0.0f), combineViewErrors(0.0f, 0.04f));
    EXPECT_EQ(formatFloat(combineViewErrors(0.0f, 0.0f)), "inf");
    EXPECT_TRUE(std::isnan(combineViewErrors(std::nanf(""), 0.01f)));
    EXPECT_EQ(formatFloat(31.41592f), "31.4159");
    EXPECT_EQ(formatFloat(2.5f), "2.5");
}

TEST(DepthToDisparity, ScaleBeyondTheFloatRangeIsInfinite)
{
    setCamera("1e-38 1e-30 1e-38 1e-30 1e30 0 0 0 10"); // about 2e66 in double
    EXPECT_EQ(disparityMapping('R').scale, INFINITY);
    cv::Mat disp;
    depthToDisparity(depthRow({1}), disp, 'R');
    EXPECT_EQ(disp.at<float>(0, 0), 2147483648.0f);
}
