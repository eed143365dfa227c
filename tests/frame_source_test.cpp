// Frame sources: raw YUV, Y4M, numbered image files and single images,
// checked against the sample scene generator.
#include "driver/frame_source.h"
#include "driver/inputs.h"
#include "sample/scene.h"
#include "video_files.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::array<const char*, 6> kNames = {"left", "right", "depth_left_a", "depth_right_a",
                                           "depth_left_b", "depth_right_b"};

std::array<cv::Mat, 6> sceneImages(int width, int height, int frame)
{
    const SampleScene s = makeSampleScene({width, height, 7, frame});
    return {s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB};
}

// The left views of frames 0 .. count-1.
std::vector<cv::Mat> leftViews(int width, int height, int count)
{
    std::vector<cv::Mat> views;
    for (int f = 0; f < count; ++f)
        views.push_back(sceneImages(width, height, f)[kLeftView]);
    return views;
}

bool identical(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// A fresh directory for the running test.
std::string testDir()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(::testing::TempDir()) / "morvex_frames" / info->test_suite_name() / info->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string() + "/";
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Every frame, read back to front to exercise seeking, equals `expected`.
void expectFrames(FrameSource& source, const std::vector<cv::Mat>& expected)
{
    ASSERT_TRUE(source.isVideo());
    ASSERT_EQ(source.frameCount(), static_cast<long long>(expected.size()));
    EXPECT_EQ(source.frameSize(), expected[0].size());
    for (long long f = source.frameCount() - 1; f >= 0; --f) {
        const cv::Mat frame = source.readFrame(f);
        EXPECT_EQ(frame.type(), CV_8UC1);
        EXPECT_TRUE(identical(frame, expected[static_cast<std::size_t>(f)])) << "frame " << f;
    }
    EXPECT_FALSE(source.deeperThan8Bits());
}

// Runs `action`, which must throw InputError with `message` (in full).
void expectInputError(const std::function<void()>& action, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "no InputError; expected: " << message;
    } catch (const InputError& error) {
        EXPECT_EQ(error.what(), message);
    }
}

std::unique_ptr<FrameSource> openLeft(const std::string& path, const SequenceFormat& format = {})
{
    return FrameSource::open(path, kLeftView, format);
}

} // namespace

TEST(RawYuvFrames, EveryFrameOfTheSampleSequenceIsItsLuma)
{
    const std::string dir = testDir();
    writeSampleSequence({64, 48, 7, 0}, 3, dir);
    for (int i = 0; i < 6; ++i) {
        std::vector<cv::Mat> expected;
        for (int f = 0; f < 3; ++f)
            expected.push_back(sceneImages(64, 48, f)[i]);
        SCOPED_TRACE(kNames[i]);
        expectFrames(*FrameSource::open(dir + kNames[i] + ".yuv", i, {64, 48}), expected);
    }
}

TEST(RawYuvFrames, EveryFormatAtEvenAndOddSizes)
{
    const std::string dir = testDir();
    for (const std::string format : {"420", "400", "422", "444"}) {
        for (const cv::Size size : {cv::Size(64, 48), cv::Size(63, 47)}) {
            SCOPED_TRACE(format + " " + std::to_string(size.width));
            const std::vector<cv::Mat> frames = leftViews(size.width, size.height, 3);
            const std::string path = dir + "left_" + format + "_" + std::to_string(size.width) + ".YUV";
            writeRawYuv(path, frames, format);
            SequenceFormat sequence{size.width, size.height, format};
            expectFrames(*openLeft(path, sequence), frames);
        }
    }
}

TEST(Y4mFrames, HeaderParametersAndFrameLines)
{
    const std::string dir = testDir();
    const struct {
        const char* format;
        const char* header;
        const char* frameLine;
    } cases[] = {
        {"420", " F25:1 Ip A1:1 C420jpeg", "FRAME"},
        {"420", "", "FRAME Ip XCOMMENT=a"},
        {"420", " C420mpeg2 XYSCSS=420MPEG2", "FRAME"},
        {"420", " C420paldv", "FRAME"},
        {"400", " F30000:1001 Cmono", "FRAME"},
        {"400", " Cmono", "FRAME Ib"},
        {"422", " C422", "FRAME"},
        {"444", " C444 Ip", "FRAME"},
    };
    for (const auto& c : cases) {
        for (const cv::Size size : {cv::Size(64, 48), cv::Size(63, 47)}) {
            SCOPED_TRACE(std::string(c.header) + " / " + c.frameLine + " / " + std::to_string(size.width));
            const std::vector<cv::Mat> frames = leftViews(size.width, size.height, 3);
            writeY4m(dir + "left.y4m", frames, c.format, c.header, c.frameLine);
            expectFrames(*openLeft(dir + "left.y4m", {9, 9, "444"}), frames);
        }
    }
}

TEST(ImageFrames, NumberedPatternFromItsFirstFrame)
{
    const std::string dir = testDir();
    const std::vector<cv::Mat> frames = leftViews(64, 48, 3);
    for (int f = 0; f < 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "left_%04d.png", f);
        ASSERT_TRUE(cv::imwrite(dir + name, frames[f]));
        ASSERT_TRUE(cv::imwrite(dir + "100%_" + std::to_string(f) + ".png", frames[f]));
    }
    expectFrames(*openLeft(dir + "left_%04d.png"), frames);
    expectFrames(*openLeft(dir + "100%%_%d.png"), frames);

    const auto fromFrame1 = FrameSource::open(dir + "left_%04d.png", kLeftView, {0, 0, "420", 1});
    EXPECT_EQ(fromFrame1->frameCount(), 3);
    EXPECT_TRUE(identical(fromFrame1->readFrame(2), frames[2]));
}

TEST(ImageFrames, SingleImageStandsForEveryFrame)
{
    const std::string dir = testDir();
    const cv::Mat left = sceneImages(64, 48, 0)[kLeftView];
    ASSERT_TRUE(cv::imwrite(dir + "left.png", left));
    const auto source = openLeft(dir + "left.png");
    EXPECT_FALSE(source->isVideo());
    EXPECT_EQ(source->frameCount(), -1);
    EXPECT_EQ(source->frameSize(), left.size());
    cv::Mat first = source->readFrame(0);
    first.setTo(0);
    EXPECT_TRUE(identical(source->readFrame(1000000), left));
    EXPECT_FALSE(source->deeperThan8Bits());

    cv::Mat deep;
    left.convertTo(deep, CV_16U, 256.0);
    ASSERT_TRUE(cv::imwrite(dir + "deep.png", deep + 255));
    const auto deepSource = openLeft(dir + "deep.png");
    EXPECT_TRUE(deepSource->deeperThan8Bits());
    EXPECT_TRUE(identical(deepSource->readFrame(5), left));
}

TEST(FrameSourceErrors, RawYuvSizeAndFormat)
{
    const std::string dir = testDir();
    const std::string path = dir + "left.yuv";
    writeRawYuv(path, leftViews(64, 48, 3), "420");
    expectInputError([&] { openLeft(path); },
                     path + " (left view): raw YUV has no header, so its frame size is needed: give it with --size WxH");
    expectInputError([&] { openLeft(path, {60, 48}); },
                     path + " (left view): is 13824 bytes, not a whole number of 60x48 4:2:0 frames of 4320 bytes; "
                            "check --size and --yuv-format");
    expectInputError([&] { openLeft(path, {64, 48, "444"}); },
                     path + " (left view): is 13824 bytes, not a whole number of 64x48 4:4:4 frames of 9216 bytes; "
                            "check --size and --yuv-format");
    expectInputError([&] { openLeft(path, {64, 48, "411"}); },
                     path + " (left view): unknown YUV format '411'; --yuv-format takes 420, 400, 422 or 444");
    writeText(dir + "empty.yuv", "");
    expectInputError([&] { openLeft(dir + "empty.yuv", {64, 48}); },
                     dir + "empty.yuv (left view): is empty: it holds no frames");
}

TEST(FrameSourceErrors, FrameOutOfRangeNamesTheInputAndItsFrames)
{
    const std::string dir = testDir();
    writeSampleSequence({64, 48, 7, 0}, 3, dir);
    const auto yuv = FrameSource::open(dir + "depth_right_b.yuv", kDepthRightB, {64, 48});
    expectInputError([&] { yuv->readFrame(3); },
                     dir + "depth_right_b.yuv (depth map of the right view, set B): has no frame 3; it holds 3 "
                           "frames (0 to 2)");
    expectInputError([&] { yuv->readFrame(-1); },
                     dir + "depth_right_b.yuv (depth map of the right view, set B): has no frame -1; it holds 3 "
                           "frames (0 to 2)");
    writeY4m(dir + "left.y4m", leftViews(64, 48, 1), "420", "");
    expectInputError([&] { openLeft(dir + "left.y4m")->readFrame(1); },
                     dir + "left.y4m (left view): has no frame 1; it holds 1 frame (frame 0)");
}

TEST(FrameSourceErrors, MissingFilesAndDirectories)
{
    const std::string dir = testDir();
    expectInputError([&] { openLeft(dir + "none.yuv", {64, 48}); }, dir + "none.yuv (left view): no such file");
    expectInputError([&] { openLeft(dir + "none.y4m"); }, dir + "none.y4m (left view): no such file");
    expectInputError([&] { openLeft(dir + "none.png"); }, dir + "none.png (left view): no such file");
    fs::create_directories(dir + "dir.y4m");
    expectInputError([&] { openLeft(dir + "dir.y4m"); }, dir + "dir.y4m (left view): is a directory, not a file");
}

TEST(FrameSourceErrors, PatternGapsConversionsAndSizes)
{
    const std::string dir = testDir();
    const std::vector<cv::Mat> frames = leftViews(64, 48, 4);
    for (int f : {0, 1, 3})
        ASSERT_TRUE(cv::imwrite(dir + "left_" + std::to_string(f) + ".png", frames[f]));
    const std::string pattern = dir + "left_%d.png";
    const auto source = openLeft(pattern);
    EXPECT_EQ(source->frameCount(), 2);
    const std::string holds = "; the pattern holds 2 frames, numbers 0 to 1 (" + dir + "left_0.png to " + dir +
                              "left_1.png)";
    expectInputError([&] { source->readFrame(2); },
                     pattern + " (left view): has no frame 2: " + dir + "left_2.png does not exist" + holds);
    expectInputError([&] { source->readFrame(3); }, pattern + " (left view): has no frame 3: the files stop before " +
                                                        dir + "left_2.png, which does not exist" + holds);
    expectInputError([&] { FrameSource::open(pattern, kLeftView, {0, 0, "420", 2}); },
                     pattern + " (left view): holds no frames from 2 on: " + dir + "left_2.png does not exist");

    const std::string usage = "; use one %d, %04d or the like (%% for a literal %)";
    expectInputError([&] { openLeft(dir + "left_%s.png"); },
                     dir + "left_%s.png (left view): is a frame file pattern whose conversion '%s' is not a frame "
                           "number" + usage);
    expectInputError([&] { openLeft(dir + "left_%5.2f.png"); },
                     dir + "left_%5.2f.png (left view): is a frame file pattern whose conversion '%5.2f' is not a "
                           "frame number" + usage);
    expectInputError([&] { openLeft(dir + "left_%d_%d.png"); },
                     dir + "left_%d_%d.png (left view): is a frame file pattern with more than one conversion; use "
                           "exactly one %d, %04d or the like (%% for a literal %)");

    ASSERT_TRUE(cv::imwrite(dir + "left_2.png", sceneImages(32, 24, 2)[kLeftView]));
    expectInputError([&] { openLeft(pattern)->readFrame(2); },
                     dir + "left_2.png (left view): is 32x24 but frame 0 of " + pattern + " is 64x48");
}

TEST(FrameSourceErrors, Y4mHeaders)
{
    const std::string dir = testDir();
    const std::string path = dir + "left.y4m";
    const std::string frame(64 * 48 * 3 / 2, 'x');
    for (const std::string c : {"C420p10", "C444p12", "Cmono16", "C422p9"}) {
        writeText(path, "YUV4MPEG2 W64 H48 " + c + "\nFRAME\n" + frame);
        const std::string bits = c.substr(c.find_first_of("0123456789", 5));
        expectInputError([&] { openLeft(path); },
                         path + " (left view): has " + bits + "-bit samples (" + c + "); only 8-bit Y4M is supported");
    }
    const struct {
        std::string text, problem;
    } cases[] = {
        {"YUV4MPEG W64 H48\n", "is not a YUV4MPEG2 (.y4m) file: it does not start with 'YUV4MPEG2 '"},
        {"\x89PNG\r\n", "is not a YUV4MPEG2 (.y4m) file: it does not start with 'YUV4MPEG2 '"},
        {"YUV4MPEG2 W64 H48", "has a bad YUV4MPEG2 header: no end of line within its first 65536 bytes"},
        {"YUV4MPEG2 H48 C420\n", "has a bad YUV4MPEG2 header: it gives no frame width (W)"},
        {"YUV4MPEG2 W64\n", "has a bad YUV4MPEG2 header: it gives no frame height (H)"},
        {"YUV4MPEG2 W0 H48\n", "has a bad YUV4MPEG2 header: 'W0' is not a frame width from 1 to 1048576"},
        {"YUV4MPEG2 W64 H4x8\n", "has a bad YUV4MPEG2 header: 'H4x8' is not a frame height from 1 to 1048576"},
        {"YUV4MPEG2 W64 H48 C999\n",
         "has chroma format 'C999', which is not one of the supported 8-bit formats C420, C422, C444, C411, "
         "C444alpha and Cmono"},
        {"YUV4MPEG2 W64 H48\n", "has a YUV4MPEG2 header but no frames"},
        {"YUV4MPEG2 W64 H48\nFRAME\n" + frame + "FRAME\n" + frame.substr(10),
         "frame 1 is truncated: it needs 4608 bytes of 64x48 planes but only 4598 remain"},
        {"YUV4MPEG2 W64 H48\nFRAME\n" + frame + "FRA", "frame 1 (at byte 4632) is truncated: its FRAME line has no end"},
        {"YUV4MPEG2 W64 H48\nFRAME\n" + frame + "xFRAME\n" + frame,
         "frame 1 (at byte 4632) does not start with a FRAME line; do the header's W, H and C match the data?"},
    };
    for (const auto& c : cases) {
        writeText(path, c.text);
        expectInputError([&] { openLeft(path); }, path + " (left view): " + c.problem);
    }
}
