// The built tool's command line, run end to end on generated scenes: what it
// prints, its options wherever they stand, and the command lines it refuses.
#include "tool_runner.h"
#include "version.h"

#include <gtest/gtest.h>
#include <morvex/morvex.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string scoreText(const std::string& out)
{
    std::smatch match;
    return std::regex_search(out, match, std::regex("^MORVEX Score: (.*)\n")) ? match[1].str() : "(none)";
}

std::string maskTime(const std::string& out)
{
    return std::regex_replace(out, std::regex("Time: [^(]*\\(sec\\)"), "Time: T(sec)");
}

const std::string kSynopsis =
    "morvex [OPTIONS] LEFT_VIEW RIGHT_VIEW DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B DEPTH_RIGHT_B CAMERA_FILE\n";

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        flawed = sceneArguments(makeTempDir("flawed"), makeSampleScene({160, 120, 11, 0}));
        SampleScene scene = makeSampleScene({160, 120, 11, 0});
        scene.depthLeftB = scene.depthLeftA;
        scene.depthRightB = scene.depthRightA;
        identical = sceneArguments(makeTempDir("identical"), scene);
        plain = maskTime(runTool(flawed).out);
    }
    static inline std::vector<std::string> flawed, identical;
    static inline std::string plain; // the output without options, its time masked
};

} // namespace

TEST_F(CommandLine, TextAndJsonCarryTheScoreOfTheTwoViewErrors)
{
    const ToolRun text = runTool(flawed);
    EXPECT_TRUE(text.status == 0 && text.err.empty()) << text.err;
    const std::regex lines("MORVEX Score: [0-9]+(\\.[0-9]+)?\nComputational Time: [0-9.e-]+\\(sec\\)\n\n");
    EXPECT_TRUE(std::regex_match(text.out, lines)) << text.out;

    // File names need not be UTF-8: stray bytes become U+FFFD, and the JSON stays valid.
    std::vector<std::string> args = flawed;
    args[0] = fs::path(flawed[0]).parent_path() / "left_\xff\xfe.png";
    fs::copy_file(flawed[0], args[0], fs::copy_options::overwrite_existing);
    const ToolRun run = runTool(with(args, {"--json"}));
    ASSERT_TRUE(run.status == 0 && run.err.empty()) << run.err;
    const json doc = json::parse(run.out); // strict: throws on anything RFC 8259 does not allow
    EXPECT_EQ(doc.at("score_text"), scoreText(text.out));
    EXPECT_EQ(doc.at("inputs").at("left_view"), (fs::path(flawed[0]).parent_path() / "left_\uFFFD\uFFFD.png").string());
}

TEST_F(CommandLine, OptionsThatKeepTheOutputKeepItWhereverTheyStand)
{
    for (const std::vector<std::string>& option :
         {std::vector<std::string>{"--min-score", "-1000"}, {"--save-maps", makeTempDir("maps_kept")}, {}})
        for (const std::size_t at : {0, 3, 7, 9}) { // 9: after two ignored extra arguments
            const ToolRun run = runTool(with(at < 9 ? flawed : with(flawed, {"extra", "/nonexistent"}, 7), option, at));
            EXPECT_TRUE(run.status == 0 && run.err.empty()) << run.err;
            EXPECT_EQ(maskTime(run.out), plain) << option.size() << " option words at " << at;
        }
}

TEST_F(CommandLine, ScoreIsInfiniteForIdenticalSets)
{
    const json doc = json::parse(runTool(with(identical, {"--json"})).out);
    EXPECT_TRUE(doc.at("score").is_null() && doc.at("score_text") == "inf") << doc;

    // Set B nudged by one depth level wherever that keeps the whole-pixel disparity: still inf, but said.
    SampleScene scene = makeSampleScene({160, 120, 11, 0});
    const morvex::Camera camera = morvex::Camera::fromText(scene.cameraText);
    cv::Mat nudged, unmoved;
    cv::bitwise_xor(scene.depthLeftA, cv::Scalar(1), nudged);
    unmoved = morvex::depthToDisparity(nudged, camera, 'L') == morvex::depthToDisparity(scene.depthLeftA, camera, 'L');
    scene.depthLeftB = scene.depthLeftA.clone();
    scene.depthRightB = scene.depthRightA;
    nudged.copyTo(scene.depthLeftB, unmoved);
    const ToolRun run = runTool(sceneArguments(makeTempDir("vanishing"), scene));
    EXPECT_EQ(scoreText(run.out), "inf");
    EXPECT_EQ(run.err, "morvex: warning: sets A and B differ in " + std::to_string(cv::countNonZero(unmoved)) +
                           " pixels of their depth maps, but every difference vanishes in the whole-pixel "
                           "disparities, so the score counts none of them\n");
}

TEST_F(CommandLine, PhasesPrintFourBannersAndTimesPerViewBeforeTheResult)
{
    std::string expected;
    for (const char* view : {"Left view:\n", "Right view:\n"}) {
        expected += view;
        for (const char* banner : {"<<Preparation>>", "<<Self Similarity>>", "<<Weighting>>", "<<Pooling>>"})
            expected += banner + std::string("\nTime: T(sec)\n");
    }
    EXPECT_EQ(maskTime(runTool(with(flawed, {"--phases"})).out), expected + plain);
    // With --json the phases go to the standard error and the output stays one document.
    const ToolRun run = runTool(with(flawed, {"--phases", "--json"}));
    EXPECT_NO_THROW(json::parse(run.out));
    EXPECT_EQ(maskTime(run.err), expected);
}

TEST_F(CommandLine, SaveMapsWritesGreyMapsAndAHeatMapOverTheDimmedView)
{
    const std::string dir = makeTempDir("maps") + "/nested/maps";
    ASSERT_EQ(runTool(with(flawed, {"--save-maps", dir}, 5)).status, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 10);
    for (const std::string view : {"left", "right"}) {
        SCOPED_TRACE(view);
        const cv::Mat image = cv::imread(flawed[view == "right"], cv::IMREAD_UNCHANGED);
        for (const char* map : {"_matSelfSim", "_matInvadSim", "_matSelfWeight", "_matInvadWeight"}) {
            const cv::Mat written = cv::imread(dir + "/" + view + map + ".png", cv::IMREAD_UNCHANGED);
            EXPECT_TRUE(written.type() == CV_8UC1 && written.size() == image.size()) << map;
        }
        const cv::Mat picture = cv::imread(dir + "/" + view + "_heatmap.png", cv::IMREAD_UNCHANGED);
        // The colour bar below the view, wide enough for its labels.
        ASSERT_TRUE(picture.type() == CV_8UC3 && picture.size() == cv::Size(256, image.rows + 30));
        const cv::Mat heat = picture(cv::Rect(0, 0, image.cols, image.rows));
        int coloured = 0, notTheView = 0; // plasma has no grey: grey pixels must be the view at half brightness
        for (int r = 0; r < heat.rows; ++r)
            for (int c = 0; c < heat.cols; ++c) {
                const cv::Vec3b p = heat.at<cv::Vec3b>(r, c);
                const bool grey = p[0] == p[1] && p[1] == p[2];
                coloured += !grey;
                notTheView += grey && p[0] != image.at<uchar>(r, c) / 2;
            }
        EXPECT_EQ(notTheView, 0);
        EXPECT_GT(coloured, static_cast<int>(heat.total() / 20));
    }
    // The image's own scale is kept as an option: another picture of the same errors.
    const std::string ownDir = makeTempDir("maps_own");
    ASSERT_EQ(runTool(with(flawed, {"--save-maps", ownDir, "--heatmap-scale", "image"})).status, 0);
    EXPECT_NE(readFile(dir + "/left_heatmap.png"), readFile(ownDir + "/left_heatmap.png"));
    writeFile(fs::path(flawed[0]).parent_path() / "a_file", "x");
    EXPECT_TRUE(failsWithOneLine(
        runTool(with(flawed, {"--save-maps", fs::path(flawed[0]).parent_path() / "a_file/maps"})), "morvex: "));
    const std::string blocked = makeTempDir("blocked_maps");
    fs::create_directory(blocked + "/left_matSelfSim.png");
    const std::string reason = "/left_matSelfSim.png: cannot write the map image: Is a directory\n";
    EXPECT_TRUE(failsWithOneLine(runTool(with(flawed, {"--save-maps", blocked})), "morvex: " + blocked + reason));
}

TEST_F(CommandLine, MinScoreExitsWithThreeBelowTheThreshold)
{
    const float score = json::parse(runTool(with(flawed, {"--json"})).out).at("score").get<float>();
    const std::pair<std::string, int> cases[] = {
        {cv::format("%.17g", score), 0}, {cv::format("%.9g", std::nextafter(score, 1e9f)), 3}, {"1000", 3}, {"inf", 3}};
    for (const auto& [threshold, status] : cases) {
        const ToolRun run = runTool(with(flawed, {"--min-score", threshold}, 7));
        EXPECT_EQ(run.status, status) << threshold;
        EXPECT_EQ(maskTime(run.out), plain) << threshold;
        EXPECT_EQ(run.err, "") << threshold;
    }
    EXPECT_EQ(runTool(with(identical, {"--min-score", "inf"})).status, 0);
}

TEST_F(CommandLine, BadCommandLinesAreUsageErrors)
{
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--save-maps"}, "--save-maps: 1 required DIR missing"},
        {{"--save-maps", ""}, "--save-maps: the directory name is empty"},
        {{"--csv", "rows.csv"}, "--csv writes one row per frame of a sequence; for a single pair use --json"},
        {{"--min-score", "abc"}, "Could not convert: --min-score = abc"},
        {{"--min-score", "nan"}, "--min-score: X must be a number"},
        {{"--no-such-option"}, "The following argument was not expected: --no-such-option"},
        {{"--first", "18446744073709551616"}, "--first: '18446744073709551616' is larger than 1000000000000000"},
        {{"--frames", "9223372036854775807"}, "--frames: '9223372036854775807' is larger than 1000000000000000"},
        {{"--first", "abc"}, "--first: 'abc' is not a whole number"},
        {{"--threads", "2\nmorvex: fake"}, "--threads: Value 2?morvex: fake not in range 1 to 1024"},
        {{"--yuv-format", "411"}, "--yuv-format: 411 not in {420,400,422,444}"},
        {{"--frames", "0"}, "--frames: N must be a number of frames: 1 or more, not 0\n"},
        {{"--first", "-1"}, "--first: K must be a frame number: 0 (the first frame) or more, not -1\n"},
        {{"--jsno"}, "The following argument was not expected: --jsno; did you mean --json?\n"}};
    for (const char* size : {"0x48", "65537x48", "4294967328x24", "-4294967264x24"})
        cases.push_back({{"--size", size}, "--size: '" + std::string(size) + "' is not a size such as 1920x1080"});
    for (auto& [args, message] : cases) // the options after the inputs
        args = with(flawed, args, 7);
    cases.push_back({{flawed[0], flawed[1], flawed[2]}, "expected 7 inputs, got 3"});
    for (const auto& [args, message] : cases) {
        const ToolRun run = runTool(args);
        EXPECT_TRUE(run.status == 2 && run.out.empty()) << message;
        EXPECT_EQ(run.err.rfind("morvex: " + message, 0), 0u) << run.err;
        EXPECT_EQ(run.err.substr(run.err.find('\n')), "\nusage: " + kSynopsis) << run.err;
    }
}

TEST(CommandLineHelp, HelpVersionAndNoDisplay)
{
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: " + kSynopsis, 0), 0u) << help.out;
    EXPECT_EQ(runTool({"--version"}).out, std::string("morvex ") + MORVEX_VERSION + "\n");

    // --show-maps without a display fails before the inputs are read.
    const std::vector<std::string> missing(7, "/nonexistent/input");
    for (const char* environment : {"env -u DISPLAY -u WAYLAND_DISPLAY", "env -u WAYLAND_DISPLAY DISPLAY=:987",
                                    "env -u DISPLAY WAYLAND_DISPLAY=morvex-no-such-display"}) {
        const ToolRun run = runTool(with(missing, {"--show-maps"}), environment);
        EXPECT_TRUE(failsWithOneLine(run, "morvex: --show-maps: ")) << environment;
        EXPECT_NE(run.err.find("; --save-maps DIR writes the maps as PNG files instead\n"), std::string::npos);
    }
}

// The tool against morvex-reference, the metric's straightforward form, end
// to end: the same score line and the same per-view results to the bit.
TEST(ReferenceBinary, ScoresAGeneratedSceneAsTheTool)
{
    const std::vector<std::string> args =
        sceneArguments(makeTempDir("forms_scene"), makeSampleScene({641, 479, 21, 0}));
    const ToolRun tool = runTool(with(args, {"--json"})),
                  slow = runProgram(MORVEX_REFERENCE_BINARY, with(args, {"--views"}));
    ASSERT_TRUE(tool.status == 0 && slow.status == 0) << tool.err << slow.err;

    // The reference prints its score and time lines, then each view's error with 9 significant digits.
    const json result = json::parse(tool.out);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        slow.out, m,
        std::regex("MORVEX Score: (.*)\nComputational Time: .*\n\nleft view error: (.*)\nright view error: (.*)\n")))
        << slow.out;
    EXPECT_EQ(m[1], result["score_text"].get<std::string>());
    for (const auto& [side, text] : {std::pair<std::string, std::string>{"left", m[2]}, {"right", m[3]}}) {
        const float fast = static_cast<float>(result[side]["error"].get<double>());
        const float reference = std::strtof(text.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&fast, &reference, sizeof fast), 0) << side << ": " << text;
    }
}
