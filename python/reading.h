#pragma once

// Files read as the command line reads them: single images, the frames of
// an input, and the frames of a pair, scored without the interpreter held.

#include <pybind11/pybind11.h>

void bindReading(pybind11::module_& m);
