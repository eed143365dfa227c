#include "tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string quote(const std::string& arg)
{
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

ToolRun runTool(const std::vector<std::string>& args)
{
    static int counter = 0;
    const std::string base = makeTempDir("run" + std::to_string(counter++));
    std::string command = quote(MORVEX_BINARY);
    for (const std::string& arg : args)
        command += " " + quote(arg);
    command += " >" + quote(base + "/out") + " 2>" + quote(base + "/err") + " </dev/null";

    ToolRun run;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    run.out = slurp(base + "/out");
    run.err = slurp(base + "/err");
    return run;
}

std::string makeTempDir(const std::string& name)
{
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("morvex_" + std::to_string(::getpid()) + "_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}
