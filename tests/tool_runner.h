#pragma once

// Runs the built morvex binary, or another program, and captures what it
// prints; writes the scenes, videos and files it reads.

#include "sample/scene.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Positions of the seven inputs on the command line.
enum ArgumentPosition { kLeftView, kRightView, kDepthLeftA, kDepthRightA, kDepthLeftB, kDepthRightB, kCameraFile };

struct ToolRun {
    int status = -1;      // exit status, or -1 when the program did not exit normally
    std::string out, err; // standard output and standard error
};

// Runs with an empty standard input; `environment` is a prefix for the shell
// such as "env -u DISPLAY".
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& environment = "");
ToolRun runTool(const std::vector<std::string>& args, const std::string& environment = "");

// The arguments with `options` inserted before the argument at `at`.
std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& options,
                              std::size_t at = 0);

// Exit status 1, nothing on the standard output and one line on the standard
// error that starts with `start`.
::testing::AssertionResult failsWithOneLine(const ToolRun& run, const std::string& start);

// A fresh empty directory under the test temp dir, private to this process.
std::string makeTempDir(const std::string& name);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Writes the scene into dir and returns the seven arguments that score it.
std::vector<std::string> sceneArguments(const std::string& dir, const SampleScene& scene);

// The frames as raw planar YUV of `format` (420, 400, 422 or 444), or as Y4M when `y4mHeader` (the header line
// after W and H) is given. Chroma bytes change from frame to frame: a reader in the wrong plane sees it.
void writeVideo(const std::string& path, const std::vector<cv::Mat>& frames, const std::string& format,
                const char* y4mHeader = nullptr, const std::string& frameLine = "FRAME");
