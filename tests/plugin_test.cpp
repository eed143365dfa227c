// The tool reads PNG files itself and every other image format through a
// plugin, and shows windows through another; both are loaded only when
// needed, from beside the executable or from an install.
#include "driver/inputs.h"
#include "sample/scene.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::string quotedArguments(const std::vector<std::string>& args)
{
    std::string quoted;
    for (const std::string& arg : args)
        quoted += " " + shellQuoted(arg);
    return quoted;
}

// The scene's inputs, with some images rewritten in other formats under
// names that end in .png: the tool tells the format by the content.
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
        std::FILE* file = std::fopen(args[i].c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return args;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

} // namespace

TEST(ImageFormats, LosslessFormatsScoreAsTheirPngs)
{
    const std::vector<std::string> png = sceneArguments(makeTempDir("formats_png"), makeSampleScene({64, 48, 3, 0}));
    const ToolRun reference = runTool(png);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const ToolRun other = runTool(sceneInOtherFormats("formats", {".bmp", ".pgm", ".tiff", ".webp", ".ppm", ".bmp"}));
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(firstLine(other.out), firstLine(reference.out));
}

TEST(ImageFormats, JpegFilesScore)
{
    const ToolRun run = runTool(sceneInOtherFormats("jpeg", {".jpg", ".jpg"}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("MORVEX Score: ", 0), 0u) << run.out;
}

TEST(Plugins, TheToolLinksNeitherImageCodecsNorWindows)
{
    std::FILE* pipe = popen(("ldd " + shellQuoted(MORVEX_BINARY)).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string libraries;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        libraries.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_NE(libraries.find("libopencv_core"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libopencv_imgcodecs"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libopencv_highgui"), std::string::npos) << libraries;
}

TEST(Plugins, AMissingPluginIsNamedOnOneLine)
{
    // The tool alone, without its plugins beside it.
    const fs::path alone = fs::path(makeTempDir("alone")) / "morvex";
    fs::copy_file(MORVEX_BINARY, alone);
    const std::string searched = "it is neither in " + alone.parent_path().string() + " nor in " +
                                 (alone.parent_path() / MORVEX_INSTALLED_PLUGIN_DIR).lexically_normal().string();

    const ToolRun png = runProgramShell(
        alone, quotedArguments(sceneArguments(makeTempDir("alone_png"), makeSampleScene({64, 48, 3, 0}))));
    EXPECT_EQ(png.status, 0) << png.err;

    const std::vector<std::string> args = sceneInOtherFormats("alone_scene", {".bmp"});
    const ToolRun bmp = runProgramShell(alone, quotedArguments(args));
    EXPECT_EQ(bmp.status, 1);
    EXPECT_EQ(bmp.err, "morvex: " + args[kLeftView] +
                           " (left view): is not a PNG file, and the plugin that reads other image formats cannot "
                           "be loaded: morvex_image_codecs.so is missing: " +
                           searched + "\n");

    const ToolRun show = runProgramShell(alone, "--show-maps" + quotedArguments(args), "env DISPLAY=:987");
    EXPECT_EQ(show.status, 1);
    EXPECT_EQ(show.err, "morvex: --show-maps: the window plugin cannot be loaded: morvex_display.so is missing: " +
                            searched + "; --save-maps DIR writes the maps as PNG files instead\n");
}

TEST(Plugins, AnInstalledToolFindsThem)
{
    const std::string prefix = makeTempDir("install");
    const std::string install = shellQuoted(CMAKE_COMMAND) + " --install " + shellQuoted(MORVEX_BUILD_DIR) +
                                " --prefix " + shellQuoted(prefix) + " >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    const std::string installed = prefix + "/bin/morvex";
    const std::vector<std::string> args = sceneInOtherFormats("installed_scene", {".bmp"});

    const ToolRun bmp = runProgramShell(installed, quotedArguments(args));
    EXPECT_EQ(bmp.status, 0) << bmp.err;
    // The window plugin loads; only the display is missing.
    const ToolRun show = runProgramShell(installed, "--show-maps" + quotedArguments(args), "env DISPLAY=:987");
    EXPECT_EQ(show.err, "morvex: --show-maps: cannot open a window on DISPLAY=:987; --save-maps DIR writes the "
                        "maps as PNG files instead\n");
}
