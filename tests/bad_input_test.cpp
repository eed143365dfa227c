// Runs of the real binary on inputs it cannot use: each must exit with 1,
// print nothing on the standard output and one line on the standard error
// that names the file and its role.
#include "driver/inputs.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

void spit(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A sample scene written into a fresh directory; the seven arguments that score it.
std::vector<std::string> writeScene(const std::string& name, const SampleScene& scene)
{
    return sceneArguments(makeTempDir("bad_" + name), scene);
}

SampleScene smallScene()
{
    return makeSampleScene({64, 48, 5, 0});
}

std::string scoreText(const ToolRun& run)
{
    const std::string prefix = "MORVEX Score: ";
    return run.out.rfind(prefix, 0) == 0 ? run.out.substr(prefix.size(), run.out.find('\n') - prefix.size()) : "";
}

void expectOneLineError(const ToolRun& run, const std::string& path, const std::string& role,
                        const std::string& problem)
{
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("morvex: " + path + " (" + role + "): ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
}

} // namespace

TEST(BadInput, FewerThanSevenPathsIsAUsageError)
{
    const ToolRun run = runTool({"a.png", "b.png", "c.png"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nusage: morvex "), std::string::npos) << run.err;
}

TEST(BadInput, CameraFiles)
{
    const struct {
        const char* name;
        std::string text;
        const char* problem;
    } cases[] = {
        {"short", "50 500 50 500 32", "but only 5 could be read"},
        {"word", "50 500 fifty 500 32 31.5 31.5 0 10", "but only 2 could be read"},
        {"sign", "-", "but only 0 could be read"},
        {"binary", std::string("\x7f" "ELF\x02\x00\xff\xfe", 8), "but only 0 could be read"},
        {"huge_exponent", "50 500 50 500 32 1e999 31.5 0 10", "left camera is inf, not a finite number"},
        {"nan", "50 500 50 500 nan 31.5 31.5 0 10", "focal length is nan, not a finite number"},
        {"zero_depth", "0 500 50 500 32 31.5 31.5 0 10", "near depth of the left camera is 0"},
        {"negative_depth", "50 500 50 -500 32 31.5 31.5 0 10", "far depth of the right camera is -500"},
        // Every pixel of one view is sent billions of columns away; --phases
        // would print as soon as any work began.
        {"left_outside", "1e-30 1e-30 50 500 32 31.5 31.5 0 10", "no pixel of the left view could be compared"},
        {"right_outside", "50 500 1e-30 1e-30 32 31.5 31.5 0 10", "no pixel of the right view could be compared"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = writeScene(std::string("camera_") + c.name, smallScene());
        spit(args[kCameraFile], c.text);
        args.push_back("--phases");
        expectOneLineError(runTool(args), args[kCameraFile], "camera file", c.problem);
    }

    // A missing camera file or a directory is named before any image is read.
    std::vector<std::string> missingImages = writeScene("camera_first", smallScene());
    for (int i = 0; i < kCameraFile; ++i)
        fs::remove(missingImages[i]);
    fs::remove(missingImages[kCameraFile]);
    expectOneLineError(runTool(missingImages), missingImages[kCameraFile], "camera file", "no such file");
    fs::create_directory(missingImages[kCameraFile]);
    expectOneLineError(runTool(missingImages), missingImages[kCameraFile], "camera file", "is a directory");
}

TEST(BadInput, Images)
{
    const std::string png = readFile(writeScene("image_source", smallScene())[kDepthLeftB]);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", smallScene().depthRightB, jpeg);
    const struct {
        int index;
        const char* name;
        std::function<void(const std::string&)> damage;
        const char* problem;
    } cases[] = {
        {kLeftView, "missing", [](const std::string& p) { fs::remove(p); }, "no such file"},
        {kDepthLeftA, "empty", [](const std::string& p) { spit(p, ""); }, "not an image that can be decoded"},
        {kDepthRightA, "text", [](const std::string& p) { spit(p, "50 500\n"); }, "not an image that can be decoded"},
        {kDepthLeftB, "truncated_png", [&](const std::string& p) { spit(p, png.substr(0, png.size() / 2)); },
         "is truncated: the file ends before its PNG data does"},
        {kDepthLeftA, "corrupt_png", [&](const std::string& p) { spit(p, png.substr(0, 30) + "?" + png.substr(31)); },
         "is a PNG file that cannot be decoded: libpng error: IHDR: CRC error"},
        {kDepthRightB, "truncated_jpeg",
         [&](const std::string& p) { spit(p, std::string(jpeg.begin(), jpeg.begin() + jpeg.size() / 2)); },
         "is truncated"},
        {kRightView, "other_size", [](const std::string& p) { cv::imwrite(p, cv::Mat(48, 80, CV_8U, 100.0)); },
         "is 80x48 but the left view is 64x48"},
        {kLeftView, "narrow", [](const std::string& p) { cv::imwrite(p, cv::Mat(48, 7, CV_8U, 100.0)); },
         "at least 8 pixels wide and high"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> args = writeScene(std::string("image_") + c.name, smallScene());
        c.damage(args[c.index]);
        expectOneLineError(runTool(args), args[c.index], inputRole(c.index), c.problem);
    }
}

TEST(BadInput, OfSeveralBadImagesTheFirstIsNamed)
{
    // The images are decoded at once; the error is still the first input's.
    std::vector<std::string> args = writeScene("several", smallScene());
    spit(args[kRightView], "not an image");
    spit(args[kDepthLeftA], "");
    fs::remove(args[kDepthRightB]);
    for (int run = 0; run < 3; ++run)
        expectOneLineError(runTool(args), args[kRightView], "right view", "not an image that can be decoded");
}

TEST(GoodInput, SixteenBitDepthMapsScoreAsTheirHighBytesWithOneWarning)
{
    const SampleScene scene = smallScene();
    const std::vector<std::string> args = writeScene("deep", scene);
    const ToolRun eightBit = runTool(args);
    // Varying low bytes: a reader that rounded instead of dropping them would differ.
    for (int index : {kDepthLeftB, kDepthRightB}) {
        cv::Mat deep;
        (index == kDepthLeftB ? scene.depthLeftB : scene.depthRightB).convertTo(deep, CV_16U, 256.0);
        cv::Mat low(deep.size(), CV_16U);
        cv::randu(low, 0, 256);
        ASSERT_TRUE(cv::imwrite(args[index], deep + low));
    }
    const ToolRun sixteenBit = runTool(args);
    EXPECT_EQ(sixteenBit.status, 0);
    EXPECT_NE(scoreText(eightBit), "");
    EXPECT_EQ(scoreText(sixteenBit), scoreText(eightBit));
    EXPECT_EQ(sixteenBit.err.rfind("morvex: warning: " + args[kDepthLeftB], 0), 0u) << sixteenBit.err;
    EXPECT_EQ(std::count(sixteenBit.err.begin(), sixteenBit.err.end(), '\n'), 1) << sixteenBit.err;
}

TEST(GoodInput, DegenerateScenesAndExtremeCamerasScore)
{
    SampleScene identical = smallScene(), uniform = smallScene(), oneDepth = smallScene(), extreme = smallScene();
    identical.depthLeftB = identical.depthLeftA;
    identical.depthRightB = identical.depthRightA;
    // A view synthesised from a uniform view is that view: no error.
    uniform.left.setTo(128);
    uniform.right.setTo(128);
    oneDepth.depthLeftA.setTo(90);
    oneDepth.depthRightA.setTo(90);
    // Depth 0 stays at disparity 0; every other value saturates.
    for (cv::Mat* depth : {&extreme.depthLeftA, &extreme.depthRightA, &extreme.depthLeftB, &extreme.depthRightB})
        (*depth)(cv::Rect(0, 0, 32, 48)).setTo(0);
    extreme.cameraText = "1e-30 1e30 1e-30 1e30 32 0 0 0 10";

    const struct {
        const char* name;
        const SampleScene& scene;
        bool infinite;
    } cases[] = {{"identical_sets", identical, true},
                 {"uniform_views", uniform, true},
                 {"set_a_of_one_depth", oneDepth, false},
                 {"extreme_camera", extreme, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runTool(writeScene(c.name, c.scene));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        const std::string score = scoreText(run);
        ASSERT_NE(score, "");
        EXPECT_EQ(c.infinite, score == "inf") << score;
        EXPECT_FALSE(std::isnan(std::stof(score))) << score;
    }
}
