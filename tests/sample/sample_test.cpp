// The sample scene generator writes its sequences as the tool reads them:
// each frame of the moving scene in turn from the first one asked for, with
// neutral chroma.
#include "readers/frame_source.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <array>

TEST(SampleScene, YuvSequencesHoldEachFramesLumaThenNeutralChroma)
{
    const std::string dir = makeTempDir("sample");
    writeSampleSequence({33, 17, 5, 1}, 3, dir); // odd sizes, from frame 1
    const char* const names[] = {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b", "depth_right_b"};
    const std::size_t luma = 33 * 17, frame = luma + 2 * 17 * 9;
    for (int i = 0; i < 6; ++i) {
        const std::string path = dir + "/" + names[i] + ".yuv", bytes = readFile(path);
        const auto source = FrameSource::open(path, static_cast<morvex::Input>(i), {33, 17, "420"});
        ASSERT_EQ(source->frameCount(), 3) << names[i];
        for (int f = 0; f < 3; ++f) {
            const SampleScene s = makeSampleScene({33, 17, 5, 1 + f});
            const cv::Mat image =
                std::array{s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB}[i];
            EXPECT_EQ(cv::norm(source->readFrame(f), image, cv::NORM_INF), 0.0) << names[i] << " " << f;
            EXPECT_EQ(bytes.substr(f * frame + luma, frame - luma), std::string(frame - luma, '\x80'));
        }
    }
    EXPECT_EQ(readFile(dir + "/camera.txt"), makeSampleScene({33, 17, 5, 1}).cameraText);
}
