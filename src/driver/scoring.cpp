#include "driver/scoring.h"

#include <chrono>

int clockMilliseconds()
{
    using namespace std::chrono;
    static const steady_clock::time_point origin = steady_clock::now();
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

float secondsSince(int start)
{
    return static_cast<float>(clockMilliseconds() - start) / 1000.0f;
}

morvex::PairResult scorePair(const morvex::PairImages& images, const morvex::Camera& camera, const InputPaths& paths,
                             const morvex::PairOptions& options)
{
    try {
        return morvex::score(images, camera, options);
    } catch (const morvex::Error& e) {
        failWithPath(e, paths);
    }
}
