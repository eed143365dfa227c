// The command-line options, run through the built tool on sample scenes and
// checked against the same computation made through the library.
#include "driver/map_writer.h"
#include "driver/run.h"
#include "driver/score.h"
#include "driver/settings.h"
#include "metric/show_map.h"
#include "sample/scene.h"
#include "tool_runner.h"
#include "version.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// ctest runs the tests of this file as parallel processes: each works in a
// directory of its own.
fs::path workDir()
{
    static const fs::path dir = makeTempDir("options");
    return dir;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::string maskTime(const std::string& out)
{
    return std::regex_replace(out, std::regex("Computational Time: [^(]*\\(sec\\)"), "Computational Time: T(sec)");
}

std::string scoreText(const std::string& out)
{
    std::smatch match;
    const std::regex scoreLine("^MORVEX Score: (.*)\n");
    return std::regex_search(out, match, scoreLine) ? match[1].str() : "(no score line)";
}

const char* const kFileNames[kInputCount] = {"left.png",         "right.png",        "depth_left_a.png",
                                             "depth_right_a.png", "depth_left_b.png", "depth_right_b.png",
                                             "camera.txt"};

// A sample scene on disk, and what the library computes for it.
struct Scene {
    fs::path dir;
    InputPaths paths;
    PairImages images;
    PairResult result;
    PairExtras extras;

    // The seven inputs for the shell, with `among` inserted after the third.
    std::string args(const std::string& among = "") const
    {
        std::string text;
        for (int i = 0; i < kInputCount; ++i)
            text += (i == 3 && !among.empty() ? among + " " : "") + shellQuoted(paths[i]) + " ";
        return text;
    }
};

Scene makeScene(const std::string& name, bool identicalSets)
{
    SceneOptions options;
    options.width = 320;
    options.height = 240;
    SampleScene sample = makeSampleScene(options);
    if (identicalSets) {
        sample.depthLeftB = sample.depthLeftA;
        sample.depthRightB = sample.depthRightA;
    }
    Scene scene;
    scene.dir = workDir() / name;
    writeSampleScene(sample, scene.dir.string());
    for (int i = 0; i < kInputCount; ++i)
        scene.paths[i] = (scene.dir / kFileNames[i]).string();

    loadCameraFile(scene.paths[kCameraFile]);
    scene.images = loadPairImages(scene.paths, std::cerr);
    g_imageWidth = scene.images.viewLeft.cols;
    g_imageHeight = scene.images.viewLeft.rows;
    scene.extras.keepMaps = true;
    scene.result = scorePair(scene.images, &scene.extras);
    return scene;
}

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        flawed = new Scene(makeScene("flawed", false));
        identical = new Scene(makeScene("identical", true));
    }
    static void TearDownTestSuite()
    {
        delete flawed;
        delete identical;
        std::error_code ignored;
        fs::remove_all(workDir(), ignored);
    }
    static Scene* flawed;
    static Scene* identical;
};

Scene* CommandLine::flawed = nullptr;
Scene* CommandLine::identical = nullptr;

void expectUsageError(const ToolRun& run, const std::string& what)
{
    EXPECT_EQ(run.status, 2) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << what << ": " << run.err;
}

} // namespace

TEST_F(CommandLine, WithoutOptionsTheTwoLinesCarryTheLibraryScore)
{
    const ToolRun run = runToolShell(flawed->args());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::regex twoLines("MORVEX Score: [^\n]+\nComputational Time: [0-9.e+-]+\\(sec\\)\n\n");
    EXPECT_TRUE(std::regex_match(run.out, twoLines)) << run.out;
    EXPECT_EQ(scoreText(run.out), formatFloat(flawed->result.score));
}

TEST_F(CommandLine, OptionsThatKeepTheOutputKeepItByteForByteWhereverTheyStand)
{
    const std::string expected = maskTime(runToolShell(flawed->args()).out);
    const std::string mapsDir = shellQuoted((workDir() / "maps_keep").string());
    for (const std::string& option : {std::string("--min-score -1000"), "--save-maps " + mapsDir, std::string()}) {
        for (const std::string& args : {option + " " + flawed->args(), flawed->args(option),
                                        flawed->args() + option, flawed->args() + "extra1 extra2 " + option}) {
            const ToolRun run = runToolShell(args);
            EXPECT_EQ(run.status, 0) << args;
            EXPECT_EQ(run.err, "") << args;
            EXPECT_EQ(maskTime(run.out), expected) << args;
        }
    }

    const auto jsonWithoutTime = [](const ToolRun& run) {
        json doc = json::parse(run.out);
        doc.erase("computational_time");
        return doc;
    };
    const json before = jsonWithoutTime(runToolShell("--json " + flawed->args()));
    EXPECT_EQ(jsonWithoutTime(runToolShell(flawed->args("--json"))), before);
    EXPECT_EQ(jsonWithoutTime(runToolShell(flawed->args() + "--json")), before);
}

TEST_F(CommandLine, JsonAgreesWithTheTextOutputAndTheLibrary)
{
    const ToolRun text = runToolShell(flawed->args());
    const ToolRun run = runToolShell("--json " + flawed->args());
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const json doc = json::parse(run.out); // strict: throws on anything RFC 8259 does not allow

    EXPECT_EQ(doc.at("version"), MORVEX_VERSION);
    EXPECT_EQ(doc.at("score_text"), scoreText(text.out));
    EXPECT_EQ(doc.at("score").get<float>(), flawed->result.score);
    EXPECT_GE(doc.at("computational_time").get<double>(), 0.0);
    const std::pair<const char*, const ViewResult*> views[] = {{"left", &flawed->result.left},
                                                                {"right", &flawed->result.right}};
    for (const auto& [name, view] : views) {
        EXPECT_EQ(doc.at(name).at("error").get<float>(), view->error) << name;
        EXPECT_EQ(doc.at(name).at("counted_pixels"), view->countedPixels) << name;
        EXPECT_EQ(doc.at(name).at("disagreeing_pixels"), view->disagreeingPixels) << name;
    }
    EXPECT_EQ(doc.at("inputs").at("left_view"), flawed->paths[kLeftView]);
    EXPECT_EQ(doc.at("inputs").at("camera_file"), flawed->paths[kCameraFile]);

    if (std::system("command -v jq >/dev/null 2>&1") == 0) {
        const std::string command = shellQuoted(MORVEX_BINARY) + " --json " + flawed->args() + "| jq -e . >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

TEST_F(CommandLine, JsonOfIdenticalSetsKeepsInfAsText)
{
    EXPECT_EQ(scoreText(runToolShell(identical->args()).out), "inf");
    const ToolRun run = runToolShell(identical->args("--json"));
    ASSERT_EQ(run.status, 0);
    const json doc = json::parse(run.out);
    EXPECT_TRUE(doc.at("score").is_null());
    EXPECT_EQ(doc.at("score_text"), "inf");
    EXPECT_EQ(doc.at("left").at("disagreeing_pixels"), 0);
}

TEST_F(CommandLine, JsonStaysValidForFileNamesThatAreNotUtf8)
{
    const fs::path oddName = flawed->dir / "left_\xff\xfe.png";
    fs::copy_file(flawed->paths[kLeftView], oddName, fs::copy_options::overwrite_existing);
    std::string args = "--json " + shellQuoted(oddName.string());
    for (int i = 1; i < kInputCount; ++i)
        args += " " + shellQuoted(flawed->paths[i]);
    const ToolRun run = runToolShell(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc.at("inputs").at("left_view"), (flawed->dir / "left_\xEF\xBF\xBD\xEF\xBF\xBD.png").string());
}

TEST_F(CommandLine, PhasesPrintFourBannersAndTimesPerViewBeforeTheResult)
{
    const ToolRun run = runToolShell("--phases " + flawed->args());
    ASSERT_EQ(run.status, 0);
    const std::vector<std::string> out = lines(run.out);
    ASSERT_EQ(out.size(), 19u) << run.out;
    const char* const banners[] = {"<<Preparation>>", "<<Self Similarity>>", "<<Weighting>>", "<<Pooling>>"};
    for (int i = 0; i < 16; i += 2) {
        EXPECT_EQ(out[i], banners[i / 2 % 4]);
        EXPECT_TRUE(std::regex_match(out[i + 1], std::regex("Time: [0-9.e+-]+\\(sec\\)"))) << out[i + 1];
    }
    EXPECT_EQ(maskTime(run.out.substr(run.out.find("MORVEX"))), maskTime(runToolShell(flawed->args()).out));

    // With --json the phases go to stderr and stdout stays one document.
    const ToolRun jsonRun = runToolShell("--phases --json " + flawed->args());
    EXPECT_NO_THROW(json::parse(jsonRun.out));
    EXPECT_EQ(lines(jsonRun.err).size(), 16u) << jsonRun.err;
}

TEST_F(CommandLine, SaveMapsWritesTheImagesRenderMapBuilds)
{
    const fs::path dir = workDir() / "maps" / "nested";
    fs::remove_all(dir.parent_path());
    ASSERT_EQ(runToolShell("--save-maps " + shellQuoted(dir.string()) + " " + flawed->args()).status, 0);

    const std::pair<const char*, const ViewDetails*> views[] = {{"left", &flawed->extras.left},
                                                                 {"right", &flawed->extras.right}};
    for (const auto& [prefix, details] : views) {
        const std::pair<const char*, cv::Mat> maps[] = {
            {"_matSelfSim.png", renderMap(details->matSelfSim, false)},
            {"_matInvadSim.png", renderMap(details->matInvadSim, false)},
            {"_matSelfWeight.png", renderMap(details->matSelfWeight, true)},
            {"_matInvadWeight.png", renderMap(details->matInvadWeight, true)},
        };
        for (const auto& [suffix, expected] : maps) {
            const cv::Mat written = cv::imread((dir / (prefix + std::string(suffix))).string(), cv::IMREAD_UNCHANGED);
            ASSERT_EQ(written.type(), CV_8UC1) << prefix << suffix;
            ASSERT_EQ(written.size(), flawed->images.viewLeft.size()) << prefix << suffix;
            EXPECT_EQ(cv::countNonZero(written != expected), 0) << prefix << suffix;
        }
        const cv::Mat heatmap = cv::imread((dir / (prefix + std::string("_heatmap.png"))).string(),
                                           cv::IMREAD_UNCHANGED);
        EXPECT_EQ(heatmap.type(), CV_8UC3) << prefix;
        EXPECT_EQ(heatmap.size(), flawed->images.viewLeft.size()) << prefix;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 10);
}

// Counts the coloured pixels of a view's heat map; two pixels or more from
// any error the view must show, in grey at half its brightness.
static int colouredPixels(const cv::Mat& view, const ViewDetails& details)
{
    const cv::Mat heatmap = errorHeatmap(view, details);
    cv::Mat nearError;
    cv::dilate(weightedErrorMap(details) > 0.0f, nearError, cv::Mat());
    int coloured = 0;
    for (int r = 0; r < view.rows; ++r)
        for (int c = 0; c < view.cols; ++c) {
            const cv::Vec3b p = heatmap.at<cv::Vec3b>(r, c);
            coloured += p[0] != p[1] || p[1] != p[2];
            if (nearError.at<uint8_t>(r, c) == 0 && p != cv::Vec3b::all(view.at<uint8_t>(r, c) / 2)) {
                ADD_FAILURE() << "heat map pixel " << r << "," << c << " is not the view";
                return -1;
            }
        }
    return coloured;
}

TEST_F(CommandLine, HeatMapColoursTheErrorsAndShowsTheViewElsewhere)
{
    EXPECT_GT(colouredPixels(flawed->images.viewLeft, flawed->extras.left),
              static_cast<int>(flawed->images.viewLeft.total() / 20));
    EXPECT_EQ(colouredPixels(identical->images.viewLeft, identical->extras.left), 0);

    // The largest error gets the top colour of the scale.
    cv::Point largest;
    cv::minMaxLoc(weightedErrorMap(flawed->extras.left), nullptr, nullptr, nullptr, &largest);
    cv::Mat top;
    cv::applyColorMap(cv::Mat(1, 1, CV_8U, cv::Scalar(255)), top, cv::COLORMAP_PLASMA);
    EXPECT_EQ(errorHeatmap(flawed->images.viewLeft, flawed->extras.left).at<cv::Vec3b>(largest),
              top.at<cv::Vec3b>(0, 0));
}

TEST_F(CommandLine, UnwritableMapDirectoryFailsWithoutOutput)
{
    const fs::path file = flawed->dir / "a_file";
    std::ofstream(file) << "x";
    const ToolRun run = runToolShell("--save-maps " + shellQuoted((file / "maps").string()) + " " + flawed->args());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("morvex: ", 0), 0u) << run.err;
    EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
}

TEST_F(CommandLine, MinScoreExitsWithThreeBelowTheThreshold)
{
    char exact[64];
    std::snprintf(exact, sizeof exact, "%.17g", static_cast<double>(flawed->result.score));
    const std::pair<std::string, int> cases[] = {{"-1000", 0}, {exact, 0}, {"1000", 3}, {"inf", 3}};
    for (const auto& [threshold, status] : cases) {
        const ToolRun run = runToolShell("--min-score " + threshold + " " + flawed->args());
        EXPECT_EQ(run.status, status) << threshold;
        EXPECT_EQ(scoreText(run.out), formatFloat(flawed->result.score)) << threshold;
        EXPECT_EQ(run.err, "") << threshold;
    }
    char above[64];
    std::snprintf(above, sizeof above, "%.9g", static_cast<double>(std::nextafter(flawed->result.score, 1e9f)));
    EXPECT_EQ(runToolShell(flawed->args() + " --min-score " + above).status, 3);
    EXPECT_EQ(runToolShell(identical->args() + " --min-score inf").status, 0);
}

TEST_F(CommandLine, BadCommandLinesAreUsageErrors)
{
    const std::string args = flawed->args();
    expectUsageError(runToolShell(args + "--save-maps"), "--save-maps without DIR");
    expectUsageError(runToolShell(args + "--save-maps ''"), "--save-maps with an empty DIR");
    expectUsageError(runToolShell("--min-score abc " + args), "--min-score abc");
    expectUsageError(runToolShell("--min-score nan " + args), "--min-score nan");
    expectUsageError(runToolShell("--no-such-option " + args), "unknown option");
    expectUsageError(runToolShell(shellQuoted(flawed->paths[0]) + " " + shellQuoted(flawed->paths[1])), "two inputs");
    expectUsageError(runToolShell(""), "no inputs");
}

TEST_F(CommandLine, HelpAndVersion)
{
    const ToolRun help = runToolShell("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: morvex [OPTIONS] LEFT_VIEW RIGHT_VIEW DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B "
                             "DEPTH_RIGHT_B CAMERA_FILE\n",
                             0),
              0u)
        << help.out;
    for (const char* option : {"--phases", "--show-maps", "--save-maps DIR", "--json", "--min-score X", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(runToolShell("-h").out, help.out);

    const ToolRun version = runToolShell("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("morvex ") + MORVEX_VERSION + "\n");
}

TEST_F(CommandLine, ShowMapsWithoutDisplayFailsBeforeReadingTheInputs)
{
    const std::string missing = "/nonexistent/a /nonexistent/b /nonexistent/c /nonexistent/d /nonexistent/e "
                                "/nonexistent/f /nonexistent/g";
    for (const char* environment : {"env -u DISPLAY -u WAYLAND_DISPLAY",
                                          "env -u WAYLAND_DISPLAY DISPLAY=:987",
                                          "env -u DISPLAY WAYLAND_DISPLAY=morvex-no-such-display"}) {
        const ToolRun run = runToolShell("--show-maps " + missing, environment);
        EXPECT_EQ(run.status, 1) << environment;
        EXPECT_EQ(run.out, "") << environment;
        EXPECT_EQ(run.err.rfind("morvex: --show-maps: ", 0), 0u) << environment << ": " << run.err;
        EXPECT_NE(run.err.find("--save-maps"), std::string::npos) << environment;
        EXPECT_EQ(lines(run.err).size(), 1u) << environment << ": " << run.err;
    }
}
