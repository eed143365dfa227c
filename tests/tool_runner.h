#pragma once

// Runs the built morvex binary and captures what it prints; writes scenes
// for it to score.

#include "sample/scene.h"

#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status, or -1 when the tool did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// The tool with these arguments.
ToolRun runTool(const std::vector<std::string>& args);

// Another program (a path) with these arguments.
ToolRun runProgram(const std::string& binary, const std::vector<std::string>& args);

// The tool with arguments already quoted for the shell, after an optional
// environment prefix such as "env -u DISPLAY".
ToolRun runToolShell(const std::string& quotedArgs, const std::string& environment = "");

// Another build of the tool, at program, run likewise.
ToolRun runProgramShell(const std::string& program, const std::string& quotedArgs, const std::string& environment = "");

std::string shellQuoted(const std::string& text);

// A fresh empty directory under the test temp dir, private to this process.
std::string makeTempDir(const std::string& name);

// The whole content of a file.
std::string readFile(const std::string& path);

// Writes the scene into dir and returns the seven arguments that score it.
std::vector<std::string> sceneArguments(const std::string& dir, const SampleScene& scene);
