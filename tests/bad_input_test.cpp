// Runs of the built tool on its inputs: images in every format, degenerate
// ones, and inputs it cannot use, which fail with one line naming the file.
#include "tool_runner.h"

#include <morvex/morvex.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> writeScene(const std::string& name, const SampleScene& scene = makeSampleScene({64, 48, 5, 0}))
{
    return sceneArguments(makeTempDir("bad_" + name), scene);
}

void expectOneLineError(const ToolRun& run, const std::string& path, const std::string& role,
                        const std::string& problem)
{
    EXPECT_TRUE(failsWithOneLine(run, "morvex: " + path + " (" + role + "): "));
    EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
}

// The scene's inputs, the first few rewritten in other formats under names
// that end in .png: the tool tells the format by the content.
std::vector<std::string> sceneInOtherFormats(const std::string& name, const std::vector<const char*>& formats)
{
    std::vector<std::string> args = sceneArguments(makeTempDir(name), makeSampleScene({64, 48, 3, 0}));
    for (std::size_t i = 0; i < formats.size(); ++i) {
        cv::Mat image = cv::imread(args[i], cv::IMREAD_UNCHANGED);
        if (std::string(formats[i]) == ".ppm") // colour only, grey in every channel
            cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        std::vector<uchar> bytes;
        EXPECT_TRUE(cv::imencode(formats[i], image, bytes, {cv::IMWRITE_WEBP_QUALITY, 101})) << formats[i];
        args[i] += ".really" + std::string(formats[i]) + ".png";
        writeFile(args[i], std::string(bytes.begin(), bytes.end()));
    }
    return args;
}

} // namespace

TEST(BadInput, CameraFiles)
{
    const std::pair<std::string, const char*> cases[] = {
        {"50 500 50 500 32", "but only 5 could be read"},
        {"50 500 fifty 500 32 31.5 31.5 0 10", "but only 2 could be read"},
        {"1e 500 50 500 32 31.5 31.5 0 10", "but only 0 could be read"}, // "%f" read 1
        {"50 500 50 500 32 31.5 31.5 0 1e+", "but only 8 could be read"},
        {"50 500 50 500 32 1e999 31.5 0 10", "left camera is inf, not a finite number"},
        {"50 500 50 500 nan 31.5 31.5 0 10", "focal length is nan, not a finite number"},
        {"0 500 50 500 32 31.5 31.5 0 10", "near depth of the left camera is 0"},
        {"50 500 50 -500 32 31.5 31.5 0 10", "far depth of the right camera is -500"},
        // Every pixel of one view is sent billions of columns away; --phases
        // would print as soon as any work began.
        {"1e-30 1e-30 50 500 32 31.5 31.5 0 10", "no pixel of the left view could be compared"},
        {"50 500 1e-30 1e-30 32 31.5 31.5 0 10", "no pixel of the right view could be compared"},
        // Millimetres where pixels are meant: every depth value becomes disparity 0.
        {"50 500 50 500 0.3 31.5 31.5 0 10", "all 256 depth values of the left view become one disparity, 0 pixels"},
        {"50 500 500 1e30 32 31.5 31.5 -1 1", "all 256 depth values of the right view become one disparity"},
    };
    for (const auto& [text, problem] : cases) {
        std::vector<std::string> args = writeScene("camera");
        writeFile(args[kCameraFile], text);
        args.push_back("--phases");
        expectOneLineError(runTool(args), args[kCameraFile], "camera file", problem);
    }

    // A missing camera file or a directory is named before any image is read.
    std::vector<std::string> args = writeScene("camera_first");
    for (const std::string& path : args)
        fs::remove(path);
    expectOneLineError(runTool(args), args[kCameraFile], "camera file", "no such file");
    fs::create_directory(args[kCameraFile]);
    expectOneLineError(runTool(args), args[kCameraFile], "camera file", "is a directory");
}

TEST(BadInput, Images)
{
    const auto encoded = [](const char* format, const cv::Mat& image) {
        std::vector<uchar> bytes;
        cv::imencode(format, image, bytes);
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string png = encoded(".png", makeSampleScene({64, 48, 5, 0}).depthLeftB);
    const std::string jpeg = encoded(".jpg", makeSampleScene({64, 48, 5, 0}).depthRightB);
    cv::Mat jet;
    cv::applyColorMap(makeSampleScene({64, 48, 5, 0}).depthLeftB, jet, cv::COLORMAP_JET);
    const char* const colourMapped = "is a colour image whose red, green and blue differ";
    const std::tuple<int, std::string, const char*> cases[] = {
        {kLeftView, "(removed)", "no such file"},
        {kDepthLeftA, "", "not an image that can be decoded"},
        {kDepthLeftB, png.substr(0, png.size() / 2), "is truncated: the file ends before its PNG data does"},
        {kDepthLeftA, png.substr(0, 30) + "?" + png.substr(31),
         "is a PNG file that cannot be decoded: libpng error: IHDR: CRC error"},
        {kDepthRightB, jpeg.substr(0, jpeg.size() / 2), "is truncated"},
        // Told by the header, before the damaged pixels are decoded.
        {kRightView, encoded(".png", cv::Mat(48, 80, CV_8U, 100.0)).replace(60, 1, "?"),
         "is 80x48 but the left view is 64x48"},
        {kLeftView, encoded(".png", cv::Mat(48, 7, CV_8U, 100.0)),
         "is 7x48; images must be at least 8 pixels wide and high"},
        {kDepthLeftB, encoded(".png", jet), colourMapped},
        {kDepthRightA, encoded(".bmp", jet), colourMapped}};
    for (const auto& [index, bytes, problem] : cases) {
        const std::vector<std::string> args = writeScene("image");
        if (bytes == "(removed)")
            fs::remove(args[index]);
        else
            writeFile(args[index], bytes);
        expectOneLineError(runTool(args), args[index], morvex::inputRole(static_cast<morvex::Input>(index)), problem);
    }

    // The images are decoded at once; the error is still the first bad input's.
    std::vector<std::string> args = writeScene("several");
    writeFile(args[kRightView], "not an image");
    writeFile(args[kDepthLeftA], "");
    fs::remove(args[kDepthRightB]);
    for (int run = 0; run < 3; ++run)
        expectOneLineError(runTool(args), args[kRightView], "right view", "not an image that can be decoded");
}

// 8-bit values saved in 16 bits warn once for both such maps; grey saved as RGBA is grey.
TEST(GoodInput, SixteenBitDepthMapsWarnOnceAndGreyInColourIsGrey)
{
    const SampleScene scene = makeSampleScene({64, 48, 5, 0});
    const std::vector<std::string> args = writeScene("deep", scene);
    const ToolRun eightBit = runTool(args);
    cv::Mat lowLeft, lowRight, rgba;
    scene.depthLeftB.convertTo(lowLeft, CV_16U);
    scene.depthRightB.convertTo(lowRight, CV_16U);
    cv::cvtColor(scene.depthLeftA, rgba, cv::COLOR_GRAY2BGRA);
    ASSERT_TRUE(cv::imwrite(args[kDepthLeftB], lowLeft) && cv::imwrite(args[kDepthRightB], lowRight) &&
                cv::imwrite(args[kDepthLeftA], rgba));
    const ToolRun lowBytes = runTool(args);
    EXPECT_EQ(lowBytes.status, 0);
    const std::string warning = "morvex: warning: " + args[kDepthLeftB] +
                                " (depth map of the left view, set B) has more than 8 bits per sample, but every "
                                "value is below 256";
    EXPECT_EQ(lowBytes.err.rfind(warning, 0), 0u) << lowBytes.err;
    EXPECT_EQ(std::count(lowBytes.err.begin(), lowBytes.err.end(), '\n'), 1) << lowBytes.err;
    ASSERT_TRUE(cv::imwrite(args[kDepthLeftB], scene.depthLeftB) && cv::imwrite(args[kDepthRightB], scene.depthRightB));
    EXPECT_EQ(runTool(args).out.substr(0, 20), eightBit.out.substr(0, 20));
}

TEST(GoodInput, DegenerateScenesAndExtremeCamerasScore)
{
    SampleScene uniform = makeSampleScene({64, 48, 5, 0}), oneDepth = uniform,
                extreme = makeSampleScene({64, 48, 5, 0});
    // A view synthesised from a uniform view is that view: no error. A set A of one depth still scores.
    uniform.left = uniform.right = cv::Mat(48, 64, CV_8U, 128.0);
    oneDepth.depthLeftA = oneDepth.depthRightA = cv::Mat(48, 64, CV_8U, 90.0);
    // Depth 0 stays at disparity 0; every other value saturates.
    for (cv::Mat* depth : {&extreme.depthLeftA, &extreme.depthRightA, &extreme.depthLeftB, &extreme.depthRightB})
        (*depth)(cv::Rect(0, 0, 32, 48)).setTo(0);
    extreme.cameraText = "1e-30 1e30 1e-30 1e30 32 0 0 0 10";
    for (const auto& [scene, infinite] : {std::pair(uniform, true), {oneDepth, false}, {extreme, false}}) {
        const ToolRun run = runTool(writeScene("degenerate", scene));
        EXPECT_TRUE(run.status == 0 && run.err.empty()) << run.err;
        ASSERT_EQ(run.out.rfind("MORVEX Score: ", 0), 0u) << run.out;
        const std::string score = run.out.substr(14, run.out.find('\n') - 14);
        EXPECT_EQ(infinite, score == "inf") << score;
        EXPECT_FALSE(std::isnan(std::stof(score))) << score;
    }
}

TEST(ImageFormats, LosslessFormatsScoreAsTheirPngsAndJpegScores)
{
    const ToolRun png = runTool(sceneInOtherFormats("formats_png", {}));
    ASSERT_EQ(png.status, 0) << png.err;
    const ToolRun other = runTool(sceneInOtherFormats("formats", {".bmp", ".pgm", ".tiff", ".webp", ".ppm", ".bmp"}));
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(other.out.substr(0, other.out.find('\n')), png.out.substr(0, png.out.find('\n')));
    const ToolRun jpeg = runTool(sceneInOtherFormats("jpeg", {".jpg", ".jpg"}));
    EXPECT_TRUE(jpeg.status == 0 && jpeg.out.rfind("MORVEX Score: ", 0) == 0) << jpeg.err;
}

TEST(Plugins, AreFoundInAnInstallAndNamedWhenMissing)
{
    const std::string prefix = makeTempDir("install");
    ASSERT_EQ(runProgram(CMAKE_COMMAND, {"--install", MORVEX_BUILD_DIR, "--prefix", prefix}).status, 0);
    std::vector<std::string> args = sceneInOtherFormats("plugins", {".bmp"});
    EXPECT_EQ(runProgram(prefix + "/bin/morvex", args).status, 0);
    // The tool alone, without its plugins beside it, still reads PNG files.
    const fs::path alone = fs::path(makeTempDir("alone")) / "morvex";
    fs::copy_file(MORVEX_BINARY, alone);
    EXPECT_EQ(runProgram(alone, sceneInOtherFormats("alone_png", {})).status, 0);
    const std::string searched = "it is neither in " + alone.parent_path().string() + " nor in " +
                                 (alone.parent_path() / MORVEX_INSTALLED_PLUGIN_DIR).lexically_normal().string();
    const ToolRun bmp = runProgram(alone, args);
    EXPECT_EQ(bmp.status, 1);
    EXPECT_EQ(bmp.err, "morvex: " + args[0] +
                           " (left view): is not a PNG file, and the plugin that reads other "
                           "image formats cannot be loaded: morvex_image_codecs.so is missing: " +
                           searched + "\n");

    // Installed, the window plugin loads and only the display is missing; alone, the plugin is.
    args.insert(args.begin(), "--show-maps");
    EXPECT_EQ(runProgram(prefix + "/bin/morvex", args, "env DISPLAY=:987").err,
              "morvex: --show-maps: cannot open a window on DISPLAY=:987; --save-maps DIR writes the maps as PNG "
              "files instead\n");
    const ToolRun show = runProgram(alone, args, "env DISPLAY=:987");
    EXPECT_EQ(show.status, 1);
    EXPECT_EQ(show.err, "morvex: --show-maps: the window plugin cannot be loaded: morvex_display.so is missing: " +
                            searched + "; --save-maps DIR writes the maps as PNG files instead\n");
}
