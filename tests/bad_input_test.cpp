// Runs of the real binary on inputs it cannot use: each must fail with one
// line on the standard error naming the file and its role, print nothing on
// the standard output and exit with 1 (2 for a wrong command line).
#include "driver/inputs.h"
#include "sample/scene.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolResult {
    int status = -1; // -1: did not exit normally (a crash or an abort)
    std::string out, err;
};

std::string freshDir(const std::string& name)
{
    const fs::path dir = fs::path(::testing::TempDir()) / ("morvex_bad_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string quoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolResult runMorvex(const std::vector<std::string>& args)
{
    static int counter = 0;
    const std::string dir = freshDir("run" + std::to_string(counter++));
    std::string command = quoted(MORVEX_BINARY);
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    command += " >" + quoted(dir + "/out") + " 2>" + quoted(dir + "/err") + " </dev/null";
    ToolResult run;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    run.out = slurp(dir + "/out");
    run.err = slurp(dir + "/err");
    return run;
}

const char* const kFileNames[kInputCount] = {"left.png",          "right.png",         "depth_left_a.png",
                                             "depth_right_a.png", "depth_left_b.png", "depth_right_b.png",
                                             "camera.txt"};

// A small sample scene written into a fresh directory; the seven arguments
// that score it.
std::vector<std::string> writeScene(const std::string& name, const SampleScene& scene)
{
    const std::string dir = freshDir(name);
    writeSampleScene(scene, dir);
    std::vector<std::string> args;
    for (const char* file : kFileNames)
        args.push_back(dir + "/" + file);
    return args;
}

SampleScene smallScene()
{
    return makeSampleScene({64, 48, 5, 0});
}

std::string scoreText(const ToolResult& run)
{
    std::smatch m;
    return std::regex_search(run.out, m, std::regex("^MORVEX Score: ([^\n]*)\n")) ? m[1].str() : "";
}

void expectOneLineError(const ToolResult& run, const std::string& path, const std::string& role)
{
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(" + role + ")"), std::string::npos) << run.err;
}

} // namespace

TEST(BadInput, FewerThanSevenPathsIsAUsageError)
{
    for (int count : {0, 1, 6}) {
        const ToolResult run = runMorvex(std::vector<std::string>(count, "left.png"));
        EXPECT_EQ(run.status, 2) << count;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nusage: morvex "), std::string::npos) << run.err;
    }
}

TEST(BadInput, CameraFileIsCheckedBeforeAnyImage)
{
    // None of the images exists either: the camera file must be named.
    const std::string dir = freshDir("camera_first");
    fs::create_directory(dir + "/folder.txt");
    spit(dir + "/locked.txt", "50 500 50 500 32 31.5 31.5 0 10");
    fs::permissions(dir + "/locked.txt", fs::perms::none);
    const struct {
        const char* file;
        const char* problem;
    } cases[] = {{"missing.txt", "no such file"},
                 {"folder.txt", "is a directory"},
                 {"locked.txt", "cannot be opened"}};
    for (const auto& c : cases) {
        // Permissions do not stop root.
        if (std::string(c.file) == "locked.txt" && ::geteuid() == 0)
            continue;
        std::vector<std::string> args;
        for (int i = 0; i < kCameraFile; ++i)
            args.push_back(dir + "/" + kFileNames[i]);
        args.push_back(dir + "/" + c.file);
        const ToolResult run = runMorvex(args);
        expectOneLineError(run, args[kCameraFile], "camera file");
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
    }
}

TEST(BadInput, MalformedCameraFiles)
{
    const struct {
        const char* name;
        std::string text;
        const char* problem;
    } cases[] = {
        {"empty", "", "but only 0 could be read"},
        {"short", "50 500 50 500 32", "but only 5 could be read"},
        {"word", "50 500 fifty 500 32 31.5 31.5 0 10", "but only 2 could be read"},
        {"sign", "-", "but only 0 could be read"},
        {"sign_inside", "50 500 50 - 32 31.5 31.5 0 10", "but only 3 could be read"},
        {"binary", std::string("\x7f" "ELF\x02\x01\x00\x00\xff\xfe", 10), "but only 0 could be read"},
        {"nan", "50 500 50 500 nan 31.5 31.5 0 10", "focal length is nan, not a finite number"},
        {"inf", "50 500 50 500 32 31.5 31.5 -inf 10", "left camera is -inf, not a finite number"},
        {"huge_exponent", "50 500 50 500 32 1e999 31.5 0 10", "not a finite number"},
        {"zero_depth", "0 500 50 500 32 31.5 31.5 0 10", "near depth of the left camera is 0"},
        {"negative_depth", "50 500 50 -500 32 31.5 31.5 0 10", "far depth of the right camera is -500"},
        {"positions_overflow", "50 500 50 500 32 31.5 31.5 3e38 3e38", "camera positions are too large"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = writeScene(std::string("camera_") + c.name, smallScene());
        spit(args[kCameraFile], c.text);
        const ToolResult run = runMorvex(args);
        SCOPED_TRACE(c.name);
        expectOneLineError(run, args[kCameraFile], "camera file");
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
    }
}

TEST(BadInput, UnusableImagesAreNamedWithTheirRole)
{
    const std::string good = slurp(writeScene("image_source", smallScene())[kDepthLeftB]);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", smallScene().depthRightB, jpeg);
    const cv::Mat wider(48, 80, CV_8U, cv::Scalar(100));
    const cv::Mat narrow(48, 7, CV_8U, cv::Scalar(100));
    const cv::Mat low(7, 64, CV_8U, cv::Scalar(100));

    const struct {
        int index;
        const char* name;
        std::function<void(const std::string&)> damage;
        const char* problem;
    } cases[] = {
        {kLeftView, "missing", [](const std::string& p) { fs::remove(p); }, "no such file"},
        {kRightView, "directory", [](const std::string& p) { fs::remove(p), fs::create_directory(p); },
         "is a directory"},
        {kDepthLeftA, "empty", [](const std::string& p) { spit(p, ""); }, "not an image that can be decoded"},
        {kDepthRightA, "text", [](const std::string& p) { spit(p, "50 500 50 500\n"); }, "not an image that can be decoded"},
        {kDepthLeftB, "truncated_png", [&](const std::string& p) { spit(p, good.substr(0, good.size() / 2)); },
         "not an image that can be decoded"},
        {kDepthRightB, "truncated_jpeg",
         [&](const std::string& p) { spit(p, std::string(jpeg.begin(), jpeg.begin() + jpeg.size() / 2)); },
         "is truncated"},
        {kRightView, "other_size", [&](const std::string& p) { cv::imwrite(p, wider); },
         "is 80x48 but the left view is 64x48"},
        {kLeftView, "narrow", [&](const std::string& p) { cv::imwrite(p, narrow); }, "at least 8 pixels"},
        {kLeftView, "low", [&](const std::string& p) { cv::imwrite(p, low); }, "at least 8 pixels"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> args = writeScene(std::string("image_") + c.name, smallScene());
        c.damage(args[c.index]);
        const ToolResult run = runMorvex(args);
        SCOPED_TRACE(c.name);
        expectOneLineError(run, args[c.index], inputRole(c.index));
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
    }
}

TEST(BadInput, NoPixelToCompareFailsBeforeAnythingIsPrinted)
{
    // A near depth of 1e-30 sends every pixel of one view (depths above 0)
    // billions of columns away; --phases would print as soon as work began.
    const struct {
        const char* view;
        const char* camera;
    } cases[] = {{"left", "1e-30 1e-30 50 500 32 31.5 31.5 0 10"}, {"right", "50 500 1e-30 1e-30 32 31.5 31.5 0 10"}};
    for (const auto& c : cases) {
        std::vector<std::string> args = writeScene(std::string("nothing_") + c.view, smallScene());
        spit(args[kCameraFile], c.camera);
        args.insert(args.begin(), "--phases");
        const ToolResult run = runMorvex(args);
        expectOneLineError(run, args.back(), "camera file");
        EXPECT_NE(run.err.find(std::string("no pixel of the ") + c.view + " view could be compared"),
                  std::string::npos)
            << run.err;
    }
}

TEST(BadInput, ExtremeCameraValuesSaturateAndStillScore)
{
    // Depth 0 stays at disparity 0; every other depth value saturates.
    SampleScene scene = smallScene();
    for (cv::Mat* depth : {&scene.depthLeftA, &scene.depthRightA, &scene.depthLeftB, &scene.depthRightB})
        (*depth)(cv::Rect(0, 0, 32, 48)).setTo(0);
    std::vector<std::string> args = writeScene("extreme", scene);
    spit(args[kCameraFile], "1e-30 1e30 1e-30 1e30 32 0 0 0 10");
    const ToolResult run = runMorvex(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(scoreText(run), "");
}

TEST(BadInput, DeeperDepthMapsKeepTheirHighBytesWithOneWarning)
{
    const SampleScene scene = smallScene();
    const std::vector<std::string> args = writeScene("deep", scene);
    const ToolResult eightBit = runMorvex(args);
    ASSERT_EQ(eightBit.status, 0) << eightBit.err;

    // The low bytes vary, so a reader that rounded instead of dropping them
    // would change the maps.
    for (int index : {kDepthLeftB, kDepthRightB}) {
        const cv::Mat depth = index == kDepthLeftB ? scene.depthLeftB : scene.depthRightB;
        cv::Mat deep(depth.size(), CV_16U);
        for (int r = 0; r < depth.rows; ++r)
            for (int c = 0; c < depth.cols; ++c)
                deep.at<uint16_t>(r, c) = static_cast<uint16_t>(depth.at<uint8_t>(r, c) * 256 + (r * 37 + c * 11) % 256);
        ASSERT_TRUE(cv::imwrite(args[index], deep));
    }
    const ToolResult sixteenBit = runMorvex(args);
    EXPECT_EQ(sixteenBit.status, 0) << sixteenBit.err;
    EXPECT_EQ(scoreText(sixteenBit), scoreText(eightBit));
    EXPECT_NE(scoreText(eightBit), "");
    EXPECT_EQ(std::count(sixteenBit.err.begin(), sixteenBit.err.end(), '\n'), 1) << sixteenBit.err;
    EXPECT_EQ(sixteenBit.err.rfind("morvex: warning: " + args[kDepthLeftB] + " (depth map of the left view, set B)", 0),
              0u)
        << sixteenBit.err;
}

TEST(DegenerateScenes, ScoresAreNumbersOrInfinity)
{
    const struct {
        const char* name;
        std::function<void(SampleScene&)> change;
        bool infinite;
    } cases[] = {
        {"identical_sets",
         [](SampleScene& s) { s.depthLeftB = s.depthLeftA.clone(), s.depthRightB = s.depthRightA.clone(); }, true},
        // The synthesised views equal the uniform ones: no error at all.
        {"uniform_views", [](SampleScene& s) { s.left.setTo(128), s.right.setTo(128); }, true},
        {"set_a_of_one_depth", [](SampleScene& s) { s.depthLeftA.setTo(90), s.depthRightA.setTo(90); }, false},
    };
    for (const auto& c : cases) {
        SampleScene scene = smallScene();
        c.change(scene);
        const ToolResult run = runMorvex(writeScene(std::string("degenerate_") + c.name, scene));
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::string score = scoreText(run);
        if (c.infinite) {
            EXPECT_EQ(score, "inf");
        } else {
            ASSERT_NE(score, "");
            EXPECT_TRUE(std::isfinite(std::stof(score))) << score;
        }
    }
}
