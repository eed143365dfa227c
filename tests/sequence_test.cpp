// Sequence runs through the real binary: every frame's result equals a
// single-pair run on the same frame, whatever the container and the number
// of threads, and broken sequences fail with one line.
#include "sample/scene.h"
#include "tool_runner.h"
#include "video_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <array>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kWidth = 96, kHeight = 64, kFrames = 4;
const std::array<const char*, 6> kNames = {"left", "right", "depth_left_a", "depth_right_a", "depth_left_b",
                                           "depth_right_b"};

std::array<cv::Mat, 6> frameImages(int frame)
{
    const SampleScene s = makeSampleScene({kWidth, kHeight, 5, frame});
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

std::vector<cv::Mat> framesOf(int input)
{
    std::vector<cv::Mat> frames;
    for (int f = 0; f < kFrames; ++f)
        frames.push_back(frameImages(f)[input]);
    return frames;
}

std::string cameraFile(const std::string& dir)
{
    const std::string path = dir + "/camera.txt";
    std::ofstream(path) << makeSampleScene({kWidth, kHeight, 5, 0}).cameraText;
    return path;
}

// The per-view errors of a single-pair run on frame `frame`, with set A
// taken from frame `frameA`.
std::pair<double, double> singleFrameErrors(int frame, int frameA)
{
    const std::string dir = makeTempDir("single_" + std::to_string(frame) + "_" + std::to_string(frameA));
    const auto images = frameImages(frame), imagesA = frameImages(frameA);
    std::vector<std::string> args = {"--json"};
    for (int i = 0; i < 6; ++i) {
        args.push_back(dir + "/" + kNames[i] + ".png");
        cv::imwrite(args.back(), i == 2 || i == 3 ? imagesA[i] : images[i]);
    }
    args.push_back(cameraFile(dir));
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    return {doc["left"]["error"].get<double>(), doc["right"]["error"].get<double>()};
}

enum class Container { Yuv420, Yuv400, Y4m, Pattern, StillSetA };

// Writes the sequence in the container and returns the arguments.
std::vector<std::string> writeSequence(Container container, const std::string& dir)
{
    std::vector<std::string> args;
    for (int i = 0; i < 6; ++i) {
        const std::string base = dir + "/" + kNames[i];
        switch (container) {
        case Container::Yuv420:
        case Container::StillSetA:
            if (container == Container::StillSetA && (i == 2 || i == 3)) {
                args.push_back(base + ".png");
                cv::imwrite(args.back(), frameImages(0)[i]);
                break;
            }
            args.push_back(base + ".yuv");
            writeRawYuv(args.back(), framesOf(i), "420");
            break;
        case Container::Yuv400:
            args.push_back(base + ".yuv");
            writeRawYuv(args.back(), framesOf(i), "400");
            break;
        case Container::Y4m:
            args.push_back(base + ".y4m");
            writeY4m(args.back(), framesOf(i), "420", " F25:1 Ip A1:1 C420jpeg");
            break;
        case Container::Pattern:
            args.push_back(base + "_%03d.png");
            for (int f = 0; f < kFrames; ++f) {
                char name[512];
                std::snprintf(name, sizeof name, args.back().c_str(), f);
                cv::imwrite(name, framesOf(i)[f]);
            }
            break;
        }
    }
    args.push_back(cameraFile(dir));
    return args;
}

std::vector<std::string> withOptions(std::vector<std::string> args, std::initializer_list<std::string> options)
{
    args.insert(args.begin(), options);
    return args;
}

struct SequenceCase {
    Container container;
    const char* yuvFormat;
    const char* name;
};

class SequenceRun : public ::testing::TestWithParam<SequenceCase> {};

} // namespace

TEST_P(SequenceRun, EveryFrameEqualsItsSinglePairRunWithAnyThreadCount)
{
    const SequenceCase c = GetParam();
    const auto args = writeSequence(c.container, makeTempDir(std::string("seq_") + c.name));
    for (const char* threads : {"1", "3"}) {
        const ToolRun run = runTool(withOptions(
            args, {"--json", "--threads", threads, "--size", "96x64", "--yuv-format", c.yuvFormat}));
        ASSERT_EQ(run.status, 0) << run.err;
        const auto doc = nlohmann::json::parse(run.out);
        ASSERT_EQ(doc["frames"].size(), static_cast<size_t>(kFrames));
        for (int f = 0; f < kFrames; ++f) {
            const auto& frame = doc["frames"][f];
            EXPECT_EQ(frame["frame"], f);
            const auto expected = singleFrameErrors(f, c.container == Container::StillSetA ? 0 : f);
            EXPECT_EQ(frame["error_left"].get<double>(), expected.first) << c.name << " frame " << f;
            EXPECT_EQ(frame["error_right"].get<double>(), expected.second) << c.name << " frame " << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, SequenceRun,
                         ::testing::Values(SequenceCase{Container::Yuv420, "420", "yuv420"},
                                           SequenceCase{Container::Yuv400, "400", "yuv400"},
                                           SequenceCase{Container::Y4m, "420", "y4m"},
                                           SequenceCase{Container::Pattern, "420", "pattern"},
                                           SequenceCase{Container::StillSetA, "420", "still_set_a"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SequenceOutput, FrameLinesThenThePooledLinesInTheSingleRunShape)
{
    const auto args = writeSequence(Container::Yuv420, makeTempDir("text"));
    const ToolRun run = runTool(withOptions(args, {"--size", "96x64", "--first", "1", "--frames", "2"}));
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 5u) << run.out;
    EXPECT_EQ(all[0].rfind("Frame 1: MORVEX Score: ", 0), 0u);
    EXPECT_EQ(all[1].rfind("Frame 2: MORVEX Score: ", 0), 0u);
    EXPECT_EQ(all[2].rfind("MORVEX Score: ", 0), 0u);
    EXPECT_EQ(all[3].rfind("Computational Time: ", 0), 0u);
    EXPECT_EQ(all[4], "");
    EXPECT_EQ(run.err, ""); // no progress line when stderr is not a terminal

    const std::string csv = makeTempDir("csv") + "/frames.csv";
    const ToolRun withCsv = runTool(withOptions(args, {"--size", "96x64", "--csv", csv, "--quiet"}));
    ASSERT_EQ(withCsv.status, 0) << withCsv.err;
    std::ifstream in(csv);
    std::getline(in, line);
    EXPECT_EQ(line, "frame,score,error_left,error_right");
    int rows = 0;
    while (std::getline(in, line))
        ++rows;
    EXPECT_EQ(rows, kFrames);
}

TEST(SequenceOutput, PooledScoreStaysFiniteWhenOneFrameIsPerfect)
{
    const std::string dir = makeTempDir("perfect");
    auto args = writeSequence(Container::Yuv420, dir);
    // Frame 0 of set B becomes set A's: that frame is perfect.
    for (int i : {4, 5}) {
        std::vector<cv::Mat> frames = framesOf(i);
        frames[0] = frameImages(0)[i - 2];
        writeRawYuv(args[i], frames, "420");
    }
    const ToolRun run = runTool(withOptions(args, {"--json", "--size", "96x64"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["frames"][0]["score_text"], "inf");
    EXPECT_TRUE(doc["frames"][0]["score"].is_null());
    EXPECT_TRUE(doc["pooled"]["score"].is_number());
    EXPECT_NE(doc["pooled"]["worst_frame"], 0);
}

TEST(SequenceErrors, BrokenSequencesFailWithOneLine)
{
    const std::string dir = makeTempDir("errors");
    const auto args = writeSequence(Container::Yuv420, dir);

    const std::string shortDir = makeTempDir("errors_short");
    auto truncated = writeSequence(Container::Yuv420, shortDir);
    std::filesystem::resize_file(truncated[1], std::filesystem::file_size(truncated[1]) - 100);

    const std::string deepDir = makeTempDir("errors_deep");
    auto deep = writeSequence(Container::Y4m, deepDir);
    {
        std::ofstream out(deep[4], std::ios::binary);
        out << "YUV4MPEG2 W96 H64 C420p10\nFRAME\n" << std::string(96 * 64 * 3, '\0');
    }

    const std::string patternDir = makeTempDir("errors_pattern");
    auto pattern = writeSequence(Container::Pattern, patternDir);
    char missing[512];
    std::snprintf(missing, sizeof missing, pattern[3].c_str(), 2);
    std::filesystem::remove(missing);

    const struct {
        std::vector<std::string> args;
        std::string mentions;
    } cases[] = {
        {withOptions(truncated, {"--size", "96x64"}), "right.yuv (right view): is"},
        {withOptions(args, {"--size", "90x64"}), "not a whole number"},
        {args, "--size"},
        {withOptions(args, {"--size", "96x64", "--frames", "9"}), "has no frame 8; it holds 4 frames (0 to 3)"},
        {withOptions(args, {"--size", "96x64", "--first", "4"}), "has no frame 4; it holds 4 frames (0 to 3)"},
        {withOptions(deep, {"--size", "96x64"}), "depth map of the left view, set B"},
        {withOptions(pattern, {"--frames", "4"}), "depth map of the right view, set A"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, 1) << c.mentions;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
    }

    const ToolRun phases = runTool(withOptions(args, {"--size", "96x64", "--phases"}));
    EXPECT_EQ(phases.status, 2);
    EXPECT_NE(phases.err.find("--phases"), std::string::npos);
}
