#pragma once

#include <string>

// Why --show-maps' windows cannot open, or an empty string when they can: a
// display must be named in DISPLAY or WAYLAND_DISPLAY, the window plugin
// must load, and a window must open on the display, tried first in a child
// process given 10 seconds.
std::string displayProblem();
