#include "tool_runner.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

static std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string makeTempDir(const std::string& name)
{
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) / ("morvex_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

ToolRun runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& environment)
{
    static int counter = 0;
    const std::string base = makeTempDir("run" + std::to_string(counter++));
    std::string command = environment + " " + shellQuoted(program);
    for (const std::string& arg : args)
        command += " " + shellQuoted(arg);
    command += " >" + shellQuoted(base + "/out") + " 2>" + shellQuoted(base + "/err") + " </dev/null";
    const int raw = std::system(command.c_str());
    return {raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(base + "/out"), readFile(base + "/err")};
}

ToolRun runTool(const std::vector<std::string>& args, const std::string& environment)
{
    return runProgram(MORVEX_BINARY, args, environment);
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& options, std::size_t at)
{
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(at), options.begin(), options.end());
    return args;
}

::testing::AssertionResult failsWithOneLine(const ToolRun& run, const std::string& start)
{
    if (run.status == 1 && run.out.empty() && std::count(run.err.begin(), run.err.end(), '\n') == 1 &&
        run.err.rfind(start, 0) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << run.status << ", output '" << run.out << "', error '"
                                         << run.err << "', not one line starting '" << start << "'";
}

std::vector<std::string> sceneArguments(const std::string& dir, const SampleScene& scene)
{
    writeSampleScene(scene, dir);
    std::vector<std::string> args;
    for (const char* name : {"left.png", "right.png", "depth_left_a.png", "depth_right_a.png", "depth_left_b.png",
                             "depth_right_b.png", "camera.txt"})
        args.push_back(dir + "/" + name);
    return args;
}

void writeVideo(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format,
                const char* y4mHeader, const std::string& frameLine)
{
    const int width = frames[0].cols, height = frames[0].rows;
    const std::size_t chroma = format == "400" ? 0
                                               : 2 * std::size_t(format == "444" ? width : (width + 1) / 2) *
                                                     (format == "420" ? (height + 1) / 2 : height);
    std::ofstream out(path, std::ios::binary);
    if (y4mHeader)
        out << "YUV4MPEG2 W" << width << " H" << height << y4mHeader << "\n";
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (y4mHeader)
            out << frameLine << "\n";
        out.write(reinterpret_cast<const char*>(frames[f].data), static_cast<std::streamsize>(frames[f].total()));
        out << std::string(chroma, static_cast<char>(40 + f));
    }
}
