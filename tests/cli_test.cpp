// End-to-end runs of the real binary on generated scenes.
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <regex>

namespace {

float scoreOf(const ToolRun& run)
{
    std::smatch m;
    const std::regex line("MORVEX Score: ([^\n]*)\n");
    if (!std::regex_search(run.out, m, line))
        return -1.0f;
    return std::stof(m[1]);
}

SampleScene sceneWithDrift(int radius)
{
    SampleScene scene = makeSampleScene({160, 120, 11, 0});
    scene.depthLeftB = scene.depthLeftA.clone();
    scene.depthRightB = scene.depthRightA.clone();
    if (radius > 0) {
        const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * radius + 1, 1));
        cv::dilate(scene.depthLeftA, scene.depthLeftB, kernel);
        cv::dilate(scene.depthRightA, scene.depthRightB, kernel);
    }
    return scene;
}

} // namespace

TEST(Cli, PrintsExactlyTheScoreLineTheTimeLineAndAnEmptyLine)
{
    const auto args = sceneArguments(makeTempDir("format"), makeSampleScene({160, 120, 1, 0}));
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::regex_match(run.out, std::regex("MORVEX Score: [0-9]+(\\.[0-9]+)?\n"
                                                     "Computational Time: [0-9]+(\\.[0-9]+)?(e-0[0-9])?\\(sec\\)\n\n")))
        << run.out;

    std::vector<std::string> withExtras = args;
    withExtras.insert(withExtras.end(), {"extra", "/nonexistent/also-ignored"});
    const ToolRun extra = runTool(withExtras);
    EXPECT_EQ(extra.status, 0);
    EXPECT_EQ(extra.out.substr(0, extra.out.find('\n')), run.out.substr(0, run.out.find('\n')));
}

TEST(Cli, IdenticalSetsScoreInfinity)
{
    const ToolRun run = runTool(sceneArguments(makeTempDir("identical"), sceneWithDrift(0)));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "MORVEX Score: inf");
}

TEST(Cli, ScoreFallsAsSetBDriftsFurtherFromSetA)
{
    float previous = 1e30f;
    for (int radius : {1, 2, 4, 8}) {
        const ToolRun run = runTool(sceneArguments(makeTempDir("drift" + std::to_string(radius)), sceneWithDrift(radius)));
        ASSERT_EQ(run.status, 0) << run.err;
        const float score = scoreOf(run);
        EXPECT_LT(score, previous) << "radius " << radius;
        EXPECT_GT(score, 0.0f);
        previous = score;
    }
}
