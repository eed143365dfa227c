#pragma once

// Runs the built morvex binary with arguments and captures what it prints.

#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

ToolRun runTool(const std::vector<std::string>& args);

// A fresh empty directory under the test temp dir.
std::string makeTempDir(const std::string& name);
