// The metric's own loops replace several image-library calls so that the
// result does not depend on the CPU. Here the library's calls, as a
// straightforward transcription of the metric would make them, serve as the
// reference on generated scenes, with the library's vector code dispatch off
// (no fused multiply-add), and every map must agree to the bit.
#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/settings.h"
#include "metric/error_maps.h"
#include "metric/evaluate_view.h"
#include "metric/feature_maps.h"
#include "metric/linear_resize.h"
#include "metric/pooling.h"
#include "metric/similarity_search.h"
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

cv::Mat sobelX()
{
    return (cv::Mat_<float>(3, 3) << -1, 0, 1, -2, 0, 2, -1, 0, 1);
}

cv::Mat referenceEdgeStrength(const cv::Mat& source)
{
    const cv::Size reduced(g_imageWidth / g_reduceFactor, g_imageHeight / g_reduceFactor);
    cv::Mat small, gx, gy, magnitude;
    cv::resize(source, small, reduced, 0.0, 0.0, cv::INTER_LINEAR);
    cv::filter2D(small, gx, CV_32F, sobelX(), cv::Point(-1, -1), 0.0, cv::BORDER_DEFAULT);
    cv::filter2D(small, gy, CV_32F, cv::Mat(sobelX().t()), cv::Point(-1, -1), 0.0, cv::BORDER_DEFAULT);
    cv::pow(gy, 2.0, gy);
    cv::pow(gx, 2.0, gx);
    cv::sqrt(gy + gx, magnitude);
    cv::resize(magnitude, magnitude, cv::Size(g_imageWidth, g_imageHeight), 0.0, 0.0, cv::INTER_LINEAR);
    return magnitude;
}

cv::Mat referenceWeight(const cv::Mat& gradView, const cv::Mat& gradDisp, const cv::Mat& absDisp)
{
    cv::Mat weight = cv::Mat::zeros(g_imageHeight, g_imageWidth, CV_32F);
    weight = (static_cast<double>(g_gradientMix) * gradDisp + static_cast<double>(1.0f - g_gradientMix) * gradView)
                 .mul(absDisp, 1.0) +
             cv::Scalar(static_cast<double>(g_weightOffset), 0, 0, 0);
    return weight;
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

TEST_P(ReferenceTest, FeatureMapsAndWeightsMatchTheLibraryCalls)
{
    for (int side = 0; side < 2; ++side) {
        cv::Mat view, dispA, dispB;
        (side == 0 ? scene.left : scene.right).convertTo(view, CV_32F, 1.0, 0.0);
        depthToDisparity(side == 0 ? scene.depthLeftA : scene.depthRightA, dispA, side == 0 ? 'L' : 'R');
        depthToDisparity(side == 0 ? scene.depthLeftB : scene.depthRightB, dispB, side == 0 ? 'L' : 'R');

        cv::Mat gradView, gradDisp, absA, absB;
        computeFeatureMaps(view, dispA, dispB, sobelX(), cv::Mat(sobelX().t()), gradView, gradDisp, absA, absB);

        cv::Mat refGradView = referenceEdgeStrength(view);
        cv::Mat refGradDisp = referenceEdgeStrength(dispA);
        cv::Mat refAbsA = cv::abs(dispA), refAbsB = cv::abs(dispB);
        for (cv::Mat* m : {&refGradView, &refGradDisp, &refAbsA, &refAbsB})
            normalizeMinMax(*m);
        EXPECT_TRUE(sameBits(gradView, refGradView)) << "side " << side;
        EXPECT_TRUE(sameBits(gradDisp, refGradDisp)) << "side " << side;
        EXPECT_TRUE(sameBits(absA, refAbsA));
        EXPECT_TRUE(sameBits(absB, refAbsB));

        cv::Mat weight;
        computeWeightMap(gradView, gradDisp, absA, weight);
        EXPECT_TRUE(sameBits(weight, referenceWeight(refGradView, refGradDisp, refAbsA))) << "side " << side;
    }
}

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
