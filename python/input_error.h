#pragma once

// morvex.InputError: input that cannot be scored, in the command line's
// words. A subclass of ValueError that carries the input it is about.

#include <morvex/morvex.h>
#include <pybind11/pybind11.h>

#include <string>

// Adds morvex.InputError to the module, and turns every morvex::Error that
// reaches Python into one.
void bindInputError(pybind11::module_& m);

// The name by which Python calls an input: "left", ..., "depth_right_b",
// "camera"; "" for Input::None.
const char* inputKey(morvex::Input input);

// The input named `key` (one of inputKey's image names); raises ValueError
// naming `label` for any other.
morvex::Input imageInputArgument(const std::string& key, const std::string& label);

// Raises morvex.InputError: `message` is its text, `input` the input's key
// (or None), `path` its file (or None) and `problem` what is wrong.
[[noreturn]] void throwInputError(const std::string& message, morvex::Input input, const std::string& path,
                                  const std::string& problem);

// Raises morvex.InputError about an input given as the argument `name`:
// "NAME (ROLE): PROBLEM".
[[noreturn]] void throwArgumentError(const std::string& name, morvex::Input input, const std::string& problem);
