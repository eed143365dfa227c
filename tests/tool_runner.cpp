#include "tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun runProgramShell(const std::string& program, const std::string& quotedArgs, const std::string& environment)
{
    static int counter = 0;
    const std::string base = makeTempDir("run" + std::to_string(counter++));
    const std::string command = environment + " " + shellQuoted(program) + " " + quotedArgs + " >" +
                                shellQuoted(base + "/out") + " 2>" + shellQuoted(base + "/err") + " </dev/null";
    ToolRun run;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    run.out = readFile(base + "/out");
    run.err = readFile(base + "/err");
    return run;
}

ToolRun runToolShell(const std::string& quotedArgs, const std::string& environment)
{
    return runProgramShell(MORVEX_BINARY, quotedArgs, environment);
}

ToolRun runProgram(const std::string& binary, const std::vector<std::string>& args)
{
    std::string quoted;
    for (const std::string& arg : args)
        quoted += " " + shellQuoted(arg);
    return runProgramShell(binary, quoted, "");
}

ToolRun runTool(const std::vector<std::string>& args)
{
    return runProgram(MORVEX_BINARY, args);
}

std::string makeTempDir(const std::string& name)
{
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                      ("morvex_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
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
