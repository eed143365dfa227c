#include "readers/input_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

void failInput(const std::string& path, morvex::Input input, const std::string& problem)
{
    throw morvex::Error(input, problem, path);
}

void failWithPath(const morvex::Error& error, const InputPaths& paths)
{
    const int index = static_cast<int>(error.input());
    if (index < static_cast<int>(paths.size()))
        failInput(paths[index], error.input(), error.problem());
    throw error;
}

void checkReadableFile(const std::string& path, morvex::Input input)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        failInput(path, input, "no such file");
    if (std::filesystem::is_directory(status))
        failInput(path, input, "is a directory, not a file");
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        failInput(path, input, std::string("cannot be opened: ") + std::strerror(errno));
}
