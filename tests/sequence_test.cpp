// Sequences: the frame sources' frames and messages, and runs of the built
// tool whose every frame has the result of a single-pair run on it.
#include "readers/image_memory.h"
#include "readers/frame_source.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <climits>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>

using nlohmann::json;

namespace {

constexpr int kFrames = 4;

// Input i (in command-line order, 0 to 5) of frames 0 .. count-1 of the moving scene.
std::vector<cv::Mat> framesOf(int i, int width = 96, int height = 64, int count = kFrames)
{
    std::vector<cv::Mat> frames;
    for (int f = 0; f < count; ++f) {
        const SampleScene s = makeSampleScene({width, height, 5, f});
        frames.push_back(std::array{s.left, s.right, s.depthLeftA, s.depthRightA, s.depthLeftB, s.depthRightB}[i]);
    }
    return frames;
}

// Every frame, read back to front to exercise seeking, equals `expected`.
void expectFrames(const std::string& path, const SequenceFormat& format, const std::vector<cv::Mat>& expected)
{
    const auto source = FrameSource::open(path, morvex::Input::LeftView, format);
    ASSERT_TRUE(source->isVideo());
    ASSERT_EQ(source->frameCount(), static_cast<long long>(expected.size()));
    for (long long f = source->frameCount() - 1; f >= 0; --f) {
        const cv::Mat frame = source->readFrame(f);
        EXPECT_TRUE(frame.type() == CV_8UC1 && cv::norm(frame, expected[f], cv::NORM_INF) == 0) << "frame " << f;
    }
}

constexpr long long kOpenOnly = LLONG_MIN;

// Opens the input and reads `frame`, which must throw morvex::Error with `message`.
void expectInputError(const std::string& path, const SequenceFormat& format, long long frame,
                      const std::string& message)
{
    try {
        const auto source = FrameSource::open(path, morvex::Input::LeftView, format);
        if (frame != kOpenOnly)
            source->readFrame(frame);
        ADD_FAILURE() << "no error; expected: " << message;
    } catch (const morvex::Error& error) {
        EXPECT_EQ(error.what(), message);
    }
}

} // namespace

TEST(FrameSource, RawYuvAndY4mOfEveryFormatAtEvenAndOddSizes)
{
    const std::string dir = makeTempDir("video");
    // Y4M: header parameters and frame lines that change nothing; its header wins over the options.
    const char* const cases[][3] = {{"420", nullptr, ""},
                                    {"400", nullptr, ""},
                                    {"422", nullptr, ""},
                                    {"444", nullptr, ""},
                                    {"420", "", "FRAME Ip XCOMMENT=a"},
                                    {"400", " Cmono", "FRAME Ib"},
                                    {"420", " C420p8", "FRAME"},
                                    {"400", " Cmono8", "FRAME"},
                                    {"422", " C422", "FRAME"},
                                    {"444", " C444 Ip", "FRAME"}};
    for (const auto& [format, header, frameLine] : cases)
        for (const cv::Size size : {cv::Size(64, 48), cv::Size(63, 47)}) {
            const std::vector<cv::Mat> frames = framesOf(0, size.width, size.height, 3);
            const std::string path = dir + (header ? "/left.y4m" : "/left.YUV");
            writeVideo(path, frames, format, header, frameLine);
            expectFrames(path, header ? SequenceFormat{9, 9, "444"} : SequenceFormat{size.width, size.height, format},
                         frames);
        }
}

TEST(FrameSource, MessagesNameTheInputAndWhatIsWrong)
{
    const std::string d = makeTempDir("errors") + "/";
    writeVideo(d + "left.yuv", framesOf(0, 64, 48, 3), "420");
    writeFile(d + "empty.yuv", "");
    writeVideo(d + "one.y4m", framesOf(0, 64, 48, 1), "420", "");
    std::filesystem::create_directories(d + "dir.y4m");
    const std::vector<cv::Mat> frames = framesOf(0, 64, 48, 4);
    for (int f : {0, 1, 3})
        ASSERT_TRUE(cv::imwrite(d + "p_" + std::to_string(f) + ".png", frames[f]));
    ASSERT_TRUE(cv::imwrite(d + "q_0.png", frames[0]) && cv::imwrite(d + "q_1.png", framesOf(0, 32, 24, 1)[0]));

    const std::string holds = "; the pattern holds 2 frames, numbers 0 to 1 (" + d + "p_0.png to " + d + "p_1.png)";
    const std::string conversion = " is not a frame number; use one %d, %04d or the like (%% for a literal %)";
    const struct {
        std::string name;
        int width, height; // --size
        const char* yuvFormat;
        long long frame;
        std::string problem;
    } cases[] = {
        {"left.yuv", 0, 0, "420", kOpenOnly,
         "raw YUV has no header, so its frame size is needed: give it with --size WxH"},
        {"left.yuv", 60, 48, "420", kOpenOnly,
         "is 13824 bytes, not a whole number of 60x48 4:2:0 frames of 4320 bytes; check --size and --yuv-format"},
        {"left.yuv", 64, 48, "411", kOpenOnly, "unknown YUV format '411'; --yuv-format takes 420, 400, 422 or 444"},
        {"empty.yuv", 64, 48, "420", kOpenOnly, "is empty: it holds no frames"},
        {"left.yuv", 64, 48, "420", 3, "has no frame 3; it holds 3 frames (0 to 2)"},
        {"one.y4m", 0, 0, "420", 1, "has no frame 1; it holds 1 frame (frame 0)"},
        {"none.yuv", 64, 48, "420", kOpenOnly, "no such file"},
        {"dir.y4m", 0, 0, "420", kOpenOnly, "is a directory, not a file"},
        {"p_%d.png", 0, 0, "420", 2, "has no frame 2: " + d + "p_2.png does not exist" + holds},
        {"p_%d.png", 0, 0, "420", 3,
         "has no frame 3: the files stop before " + d + "p_2.png, which does not exist" + holds},
        {"p_%s.png", 0, 0, "420", kOpenOnly, "is a frame file pattern whose conversion '%s'" + conversion},
        {"p_%%1.png", 0, 0, "420", kOpenOnly,
         "is a frame file pattern without a frame number; use one %d, %04d or the like (%% for a literal %)"},
        {"p_%d_%d.png", 0, 0, "420", kOpenOnly,
         "is a frame file pattern with more than one conversion; use exactly one %d, %04d or the like (%% for a "
         "literal %)"},
    };
    for (const auto& c : cases)
        expectInputError(d + c.name, {c.width, c.height, c.yuvFormat}, c.frame,
                         d + c.name + " (left view): " + c.problem);
    expectInputError(d + "p_%d.png", {0, 0, "420", 2}, kOpenOnly,
                     d + "p_%d.png (left view): holds no frames from 2 on: " + d + "p_2.png does not exist");
    // A frame of another size names its own file.
    expectInputError(d + "q_%d.png", {}, 1,
                     d + "q_1.png (left view): is 32x24 but frame 0 of " + d + "q_%d.png is 64x48");

    const std::string frame(64 * 48 * 3 / 2, 'x'), h = "YUV4MPEG2 W64 H48", bad = "has a bad YUV4MPEG2 header: ";
    std::vector<std::pair<std::string, std::string>> y4m = {
        {"YUV4MPEG W64 H48\n", "is not a YUV4MPEG2 (.y4m) file: it does not start with 'YUV4MPEG2 '"},
        {h, bad + "no end of line within its first 65536 bytes"},
        {"YUV4MPEG2 H48 C420\n", bad + "it gives no frame width (W)"},
        {"YUV4MPEG2 W64\n", bad + "it gives no frame height (H)"},
        {"YUV4MPEG2 W0 H48\n", bad + "'W0' is not a frame width from 1 to 1048576"},
        {"YUV4MPEG2 W64 H4x8\n", bad + "'H4x8' is not a frame height from 1 to 1048576"},
        {h + " C999\n", "has chroma format 'C999', which is not one of the supported 8-bit formats C420, C422, C444, "
                        "C411, C444alpha and Cmono"},
        {h + "\n", "has a YUV4MPEG2 header but no frames"},
        {h + "\nFRAME\n" + frame + "FRAME\n" + frame.substr(10),
         "frame 1 is truncated: it needs 4608 bytes of 64x48 planes but only 4598 remain"},
        {h + "\nFRAME\n" + frame + "FRA", "frame 1 (at byte 4632) is truncated: its FRAME line has no end"},
        {h + "\nFRAME\n" + frame + "xFRAME\n" + frame,
         "frame 1 (at byte 4632) does not start with a FRAME line; do the header's W, H and C match the data?"}};
    for (const std::string c : {"C420p10", "C444p12", "Cmono16", "C422p9"})
        y4m.push_back({h + " " + c + "\nFRAME\n" + frame, "has " + c.substr(c.find_first_of("0123456789", 5)) +
                                                              "-bit samples (" + c + "); only 8-bit Y4M is supported"});
    for (const auto& [text, problem] : y4m) {
        writeFile(d + "bad.y4m", text);
        expectInputError(d + "bad.y4m", {}, kOpenOnly, d + "bad.y4m (left view): " + problem);
    }
}

namespace {

// The per-view errors of a single-pair run on frame `frame`, with set A from frame `frameA`.
std::pair<double, double> singleFrameErrors(int frame, int frameA)
{
    static std::map<std::pair<int, int>, std::pair<double, double>> known;
    if (known.count({frame, frameA}) == 0) {
        SampleScene scene = makeSampleScene({96, 64, 5, frame}), sceneA = makeSampleScene({96, 64, 5, frameA});
        scene.depthLeftA = sceneA.depthLeftA;
        scene.depthRightA = sceneA.depthRightA;
        const json doc = json::parse(runTool(with(sceneArguments(makeTempDir("single"), scene), {"--json"})).out);
        known[{frame, frameA}] = {doc["left"]["error"], doc["right"]["error"]};
    }
    return known[{frame, frameA}];
}

enum Container { kYuv420, kYuv400, kY4m, kPattern, kStillSetA };

// Writes the sequence in the container into a fresh directory; the arguments that score it.
std::vector<std::string> writeSequence(Container container, const std::string& name)
{
    const std::string dir = makeTempDir(name);
    std::vector<std::string> args;
    for (int i = 0; i < 6; ++i) {
        const std::string base = dir + "/" + std::to_string(i);
        if (container == kStillSetA && (i == 2 || i == 3)) { // 16 bits, of which the high 8 count, not rounded
            cv::Mat deep;
            framesOf(i)[0].convertTo(deep, CV_16U, 256.0);
            args.push_back(base + ".png");
            cv::imwrite(args.back(), deep + 255);
        } else if (container == kPattern) {
            args.push_back(base + "_100%%_%03d.png"); // "%%" for a % in the names
            for (int f = 0; f < kFrames; ++f)
                cv::imwrite(cv::format(args.back().c_str(), f), framesOf(i)[f]);
        } else {
            args.push_back(base + (container == kY4m ? ".y4m" : ".yuv"));
            writeVideo(args.back(), framesOf(i), container == kYuv400 ? "400" : "420",
                       container == kY4m ? " F25:1 Ip A1:1 C420jpeg" : nullptr);
        }
    }
    args.push_back(dir + "/camera.txt");
    writeFile(args.back(), makeSampleScene({96, 64, 5, 0}).cameraText);
    return with(args, {"--size", "96x64", "--yuv-format", container == kYuv400 ? "400" : "420"});
}

} // namespace

TEST(SequenceRun, EveryFrameEqualsItsSinglePairRunInEveryContainerWithAnyThreadCount)
{
    for (const Container container : {kYuv420, kYuv400, kY4m, kPattern, kStillSetA}) {
        const auto args = writeSequence(container, "sequence");
        for (const char* threads : {"1", "3"}) {
            const ToolRun run = runTool(with(args, {"--json", "--threads", threads}));
            ASSERT_EQ(run.status, 0) << run.err;
            const std::string warning = "morvex: warning: " + args[6] +
                                        " (depth map of the left view, set A) has more "
                                        "than 8 bits per sample; only the high 8 bits are used\n";
            EXPECT_EQ(run.err, container == kStillSetA ? warning : "");
            const json doc = json::parse(run.out);
            ASSERT_EQ(doc["frames"].size(), static_cast<size_t>(kFrames));
            for (int f = 0; f < kFrames; ++f) {
                const auto expected = singleFrameErrors(f, container == kStillSetA ? 0 : f);
                EXPECT_EQ(doc["frames"][f]["frame"], f);
                EXPECT_EQ(doc["frames"][f]["error_left"].get<double>(), expected.first) << container << ", " << f;
                EXPECT_EQ(doc["frames"][f]["error_right"].get<double>(), expected.second) << container << ", " << f;
            }
        }
    }
}

TEST(SequenceRun, FrameLinesThenThePooledLinesAndACsvFile)
{
    const auto args = writeSequence(kYuv420, "text");
    const ToolRun run = runTool(with(args, {"--first", "1", "--frames", "2"}));
    EXPECT_TRUE(run.status == 0 && run.err.empty()) << run.err; // no progress line when stderr is not a terminal
    const std::string score = "MORVEX Score: [0-9.]+\n";
    EXPECT_TRUE(std::regex_match(run.out, std::regex("Frame 1: " + score + "Frame 2: " + score + score +
                                                     "Computational Time: [0-9.e-]+\\(sec\\)\n\n")))
        << run.out;

    const std::string csv = makeTempDir("csv") + "/frames.csv";
    ASSERT_EQ(runTool(with(args, {"--csv", csv, "--quiet"})).status, 0);
    const std::string rows = readFile(csv);
    EXPECT_EQ(rows.rfind("frame,score,error_left,error_right,share_over_1_left,", 0), 0u) << rows;
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), kFrames + 1) << rows;
    // Heat maps as videos: a header, then each frame's three full planes (the view, its colour bar below).
    const std::string maps = makeTempDir("heat_videos");
    ASSERT_EQ(runTool(with(args, {"--save-maps", maps})).status, 0);
    for (const char* view : {"/left_heatmap.y4m", "/right_heatmap.y4m"}) {
        const std::string video = readFile(maps + view);
        const std::string header = "YUV4MPEG2 W256 H94 F25:1 Ip A1:1 C444 XCOLORRANGE=FULL\n";
        EXPECT_EQ(video.substr(0, header.size()), header);
        EXPECT_EQ(video.size(), header.size() + kFrames * (6 + 256 * 94 * 3)) << view;
    }
    const ToolRun toStdout = runTool(with(args, {"--csv", "-", "--json"}));
    EXPECT_EQ(toStdout.out.substr(0, rows.size()), rows);
    // The clock counts milliseconds, and the JSON says so without float noise.
    EXPECT_TRUE(std::regex_match(json::parse(toStdout.out.substr(rows.size()))["computational_time"].dump(),
                                 std::regex("[0-9]+(\\.[0-9]{1,3})?")))
        << toStdout.out;

    // Frame 0 of set B made set A's: that frame is perfect, the whole sequence still has a score.
    for (int i : {4, 5}) {
        std::vector<cv::Mat> frames = framesOf(i);
        frames[0] = framesOf(i - 2)[0];
        writeVideo(args[i + 4], frames, "420");
    }
    const json doc = json::parse(runTool(with(args, {"--json"})).out);
    EXPECT_EQ(doc["frames"][0]["score_text"], "inf");
    EXPECT_TRUE(doc["frames"][0]["score"].is_null());
    EXPECT_TRUE(doc["pooled"]["score"].is_number());
    EXPECT_NE(doc["pooled"]["worst_frame"], 0);
}

TEST(SequenceRun, BrokenSequencesFailWithOneLine)
{
    const auto args = writeSequence(kYuv420, "errors");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {with(args, {"--frames", "9"}), "0.yuv (left view): has no frame 8; it holds 4 frames (0 to 3)"},
        {with(args, {"--csv", "/nonexistent/rows.csv"}), "rows.csv: cannot write the CSV file: No such file or"}};
    for (const auto& [arguments, mentions] : cases) {
        const ToolRun run = runTool(arguments);
        EXPECT_TRUE(failsWithOneLine(run, "morvex: /"));
        EXPECT_NE(run.err.find(mentions), std::string::npos) << run.err;
    }
    for (const auto& option : {std::vector<std::string>{"--phases"}, {"--show-maps"}}) {
        const ToolRun run = runTool(with(args, option));
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
                  "morvex: " + option[0] + " works on single stereo pairs only, not on sequences");
    }
}

namespace {

cv::Mat imageIn(const ImageMemory& memory, cv::Size size, int type)
{
    cv::Mat image;
    image.allocator = const_cast<ImageMemory*>(&memory);
    image.create(size, type);
    return image;
}

bool onHugePageBoundary(const cv::Mat& image)
{
    return reinterpret_cast<std::uintptr_t>(image.data) % ImageMemory::kHugePage == 0;
}

} // namespace

// Large buffers start on a huge page and one given back is taken again for
// the next image of its size; small ones stay OpenCV's.
TEST(ImageMemory, LargeBuffersOnHugePagesAreKeptForTheirSize)
{
    ImageMemory memory;
    const cv::Size frame(1920, 1080);
    const uchar* first;
    {
        cv::Mat a = imageIn(memory, frame, CV_8UC1), b = imageIn(memory, frame, CV_8UC1);
        EXPECT_TRUE(onHugePageBoundary(a) && onHugePageBoundary(b));
        EXPECT_EQ(memory.mappings(), 2u);
        first = a.data;
        a.setTo(7);
        b.setTo(9);
        EXPECT_EQ(cv::countNonZero(a == 7), frame.area());
    }
    cv::Mat again = imageIn(memory, frame, CV_8UC1);
    cv::Mat another = imageIn(memory, frame, CV_8UC1);
    EXPECT_EQ(memory.mappings(), 2u);
    EXPECT_TRUE(again.data == first || another.data == first);
    const cv::Mat small = imageIn(memory, {64, 48}, CV_8UC1);
    EXPECT_EQ(memory.mappings(), 2u);

    // Rows of three floats a pixel, and a region of it, as OpenCV lays them out.
    again.release();
    cv::Mat floats = imageIn(memory, {1000, 700}, CV_32FC3);
    EXPECT_EQ(memory.mappings(), 3u);
    EXPECT_EQ(floats.step[0], 12000u);
    floats.setTo(cv::Scalar(1, 2, 3));
    const cv::Mat region = floats(cv::Rect(10, 20, 30, 40)).clone();
    EXPECT_EQ(region.at<cv::Vec3f>(39, 29), cv::Vec3f(1, 2, 3));

    // Threads that take and give back frames get whole frames of their own.
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&memory, frame, t] {
            for (int i = 0; i < 20; ++i) {
                cv::Mat image = imageIn(memory, frame, CV_8UC1);
                image.setTo(t);
                EXPECT_EQ(cv::countNonZero(image != t), 0);
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_LE(memory.mappings(), 6u);
}
