// Debian's Highway library measures its timer's resolution in a static
// initialiser, for its benchmarking functions (hwy::Measure), which morvex
// never calls: about 4 ms of every run's start, more than a 640x480 pair's
// computation. The tool defines that measurement as a constant instead and
// exports it (see CMakeLists.txt); the dynamic linker finds a definition in
// the executable before the library's own, so the library's initialiser
// calls this one. Highway's runtime dispatch does not use it.
#include <hwy/nanobenchmark.h>

namespace hwy::platform {

uint64_t TimerResolution()
{
    return 1;
}

} // namespace hwy::platform
