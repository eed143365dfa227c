// The metric's own loops replace several image-library calls so that the
// result does not depend on the CPU. Here the library's calls, as a
// straightforward transcription of the metric would make them, serve as the
// reference on generated scenes, with the library's vector code dispatch off
// (no fused multiply-add), and every map must agree to the bit.
#include "driver/camera.h"
#include "driver/settings.h"
#include "metric/linear_resize.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <fstream>

namespace {

// Bitwise equality, so that NaN equals NaN and 0 differs from -0.
bool sameBits(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return false;
    for (int r = 0; r < a.rows; ++r)
        if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()) != 0)
            return false;
    return true;
}

struct SceneCase {
    int width, height;
    unsigned seed;
};

class ReferenceTest : public ::testing::TestWithParam<SceneCase> {
protected:
    void SetUp() override
    {
        const SceneCase c = GetParam();
        scene = makeSampleScene({c.width, c.height, c.seed, 0});
        const std::string cameraPath = makeTempDir("reference") + "/camera.txt";
        std::ofstream(cameraPath) << scene.cameraText;
        ASSERT_EQ(readCameraParameters(cameraPath), 9);
        g_imageWidth = c.width;
        g_imageHeight = c.height;
        cv::setUseOptimized(false);
    }
    void TearDown() override { cv::setUseOptimized(true); }

    SampleScene scene;
};

} // namespace

TEST_P(ReferenceTest, ResizeMatchesTheLibraryBothWaysAndWithVectorCode)
{
    cv::Mat view;
    scene.left.convertTo(view, CV_32F);
    const cv::Size sizes[] = {{g_imageWidth / 8, g_imageHeight / 8}, {g_imageWidth / 3 + 1, g_imageHeight / 5 + 1}};
    for (bool optimized : {false, true}) {
        cv::setUseOptimized(optimized);
        for (const cv::Size& size : sizes) {
            cv::Mat mine, theirs, upMine, upTheirs;
            resizeLinear(view, mine, size);
            cv::resize(view, theirs, size, 0.0, 0.0, cv::INTER_LINEAR);
            EXPECT_TRUE(sameBits(mine, theirs)) << size << " optimized " << optimized;
            resizeLinear(mine, upMine, view.size());
            cv::resize(theirs, upTheirs, view.size(), 0.0, 0.0, cv::INTER_LINEAR);
            EXPECT_TRUE(sameBits(upMine, upTheirs)) << size << " optimized " << optimized;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(GeneratedScenes, ReferenceTest,
                         ::testing::Values(SceneCase{640, 480, 1}, SceneCase{641, 479, 2}, SceneCase{1001, 600, 3},
                                           SceneCase{64, 48, 4}, SceneCase{16, 16, 5}, SceneCase{8, 9, 6}));
