#pragma once

#include <CLI/CLI.hpp>

#include <string>

// "; did you mean --json?" for the first unknown option on the command line
// that is close to a known one of app (at most about a third of its letters
// changed), else "".
std::string optionSuggestion(const CLI::App& app, int argc, const char* const* argv);
