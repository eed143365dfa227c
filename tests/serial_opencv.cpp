// Linked into the core-only tests: OpenCV's thread pool hangs under
// qemu-user, so its parallel loops run on the calling thread.
#include <opencv2/core.hpp>

namespace {
const bool serialOpenCV = (cv::setNumThreads(0), true);
}
