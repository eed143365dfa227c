// The sample scene generator writes its sequences as the tool reads them.
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <array>

namespace {

std::array<cv::Mat, 6> imagesOf(const SampleScene& s)
{
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

bool identical(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

} // namespace

TEST(SampleScene, YuvSequencesHoldEachFramesLumaThenNeutralChroma)
{
    const std::string dir = makeTempDir("sample");
    writeSampleSequence({33, 17, 5, 1}, 3, dir);
    const char* const names[] = {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"};
    const std::size_t luma = 33 * 17, frame = luma + 2 * 17 * 9;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string bytes = readFile(dir + "/" + names[i] + ".yuv");
        ASSERT_EQ(bytes.size(), 3 * frame) << names[i];
        for (int f = 0; f < 3; ++f) {
            const cv::Mat image(17, 33, CV_8UC1, const_cast<char*>(bytes.data() + f * frame));
            EXPECT_TRUE(identical(image, imagesOf(makeSampleScene({33, 17, 5, 1 + f}))[i])) << names[i] << " " << f;
            EXPECT_EQ(bytes.substr(f * frame + luma, frame - luma), std::string(frame - luma, '\x80'));
        }
    }
    EXPECT_EQ(readFile(dir + "/camera.txt"), makeSampleScene({33, 17, 5, 1}).cameraText);
}
