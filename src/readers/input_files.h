#pragma once

// What every reader shares: the seven inputs of a pair by role, and the
// errors that name an input's file, its role and the problem.

#include <morvex/morvex.h>

#include <array>
#include <string>

// The seven input paths of a pair, in command-line order (morvex::Input).
using InputPaths = std::array<std::string, 7>;

// The input at position i of the command line.
inline morvex::Input inputAt(int i)
{
    return static_cast<morvex::Input>(i);
}

// Throws morvex::Error as "PATH (ROLE): PROBLEM".
[[noreturn]] void failInput(const std::string& path, morvex::Input input, const std::string& problem);

// The library's error, naming the input's path where it names an input.
[[noreturn]] void failWithPath(const morvex::Error& error, const InputPaths& paths);

// Fails unless path names a file (not a directory) that can be opened.
void checkReadableFile(const std::string& path, morvex::Input input);
