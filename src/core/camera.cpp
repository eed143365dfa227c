#include "core/settings.h"

#include <morvex/morvex.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace morvex {

namespace {

const char* const kRoles[] = {
    "left view",
    "right view",
    "depth map of the left view, set A",
    "depth map of the right view, set A",
    "depth map of the left view, set B",
    "depth map of the right view, set B",
    "camera file",
    "input",
};

std::string errorMessage(Input input, const std::string& problem, const std::string& path)
{
    if (input == Input::None)
        return problem;
    if (path.empty())
        return std::string(inputRole(input)) + ": " + problem;
    return path + " (" + inputRole(input) + "): " + problem;
}

} // namespace

const char* inputRole(Input input)
{
    return kRoles[static_cast<int>(input)];
}

Error::Error(Input input, const std::string& problem, const std::string& path)
    : std::runtime_error(errorMessage(input, problem, path)), input_(input), problem_(problem)
{
}

float Camera::cameraPosMiddle() const
{
    const float sum = cameraPosRight + cameraPosLeft;
    return sum * g_half;
}

float Camera::baselineLeft() const
{
    return cameraPosLeft - cameraPosMiddle();
}

float Camera::baselineRight() const
{
    return cameraPosRight - cameraPosMiddle();
}

std::string Camera::problem() const
{
    const struct {
        const char* name;
        float value;
        bool depth;
    } values[] = {
        {"near depth of the left camera", nearDepthLeft, true},
        {"far depth of the left camera", farDepthLeft, true},
        {"near depth of the right camera", nearDepthRight, true},
        {"far depth of the right camera", farDepthRight, true},
        {"focal length", focalLength, false},
        {"principal point of the left camera", principalPointLeft, false},
        {"principal point of the right camera", principalPointRight, false},
        {"position of the left camera", cameraPosLeft, false},
        {"position of the right camera", cameraPosRight, false},
    };
    for (const auto& v : values) {
        if (!std::isfinite(v.value))
            return std::string(v.name) + " is " + formatFloat(v.value) + ", not a finite number";
        if (v.depth && !(v.value > 0.0f))
            return std::string(v.name) + " is " + formatFloat(v.value) + "; depths must be above 0";
    }
    if (!std::isfinite(baselineLeft()) || !std::isfinite(baselineRight()))
        return "the camera positions are too large to compute the middle camera and the baselines";
    return "";
}

std::string cameraCountProblem(const std::string& found)
{
    return "needs nine numbers (near and far depth of each camera, focal length, both principal points, both "
           "camera positions), but " + found;
}

namespace {

// Reads the nine values in file order with readNumber(float&), which says
// whether it could. Reading stops at the first number that cannot be read:
// it and every value after it keep their previous value.
template <class ReadNumber>
int readNumbers(Camera& camera, ReadNumber readNumber)
{
    float* const values[] = {
        &camera.nearDepthLeft,      &camera.farDepthLeft,        &camera.nearDepthRight,
        &camera.farDepthRight,      &camera.focalLength,         &camera.principalPointLeft,
        &camera.principalPointRight, &camera.cameraPosLeft,      &camera.cameraPosRight,
    };
    int numbersRead = 0;
    for (float* value : values) {
        if (!readNumber(*value))
            break;
        ++numbersRead;
    }
    return numbersRead;
}

Camera checkedCamera(const Camera& camera, int numbersRead, const std::string& path)
{
    if (numbersRead < 9)
        throw Error(Input::CameraFile, cameraCountProblem("only " + std::to_string(numbersRead) + " could be read"),
                    path);
    const std::string problem = camera.problem();
    if (!problem.empty())
        throw Error(Input::CameraFile, problem, path);
    return camera;
}

} // namespace

int readCameraNumbers(const std::string& path, Camera& camera)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!file)
        return -1;
    return readNumbers(camera, [&file](float& value) { return std::fscanf(file.get(), "%f", &value) == 1; });
}

Camera Camera::fromText(const std::string& text)
{
    Camera camera;
    const char* next = text.c_str();
    const int numbersRead = readNumbers(camera, [&next](float& value) {
        int used = 0;
        if (std::sscanf(next, "%f%n", &value, &used) != 1)
            return false;
        next += used;
        return true;
    });
    return checkedCamera(camera, numbersRead, "");
}

Camera Camera::fromFile(const std::string& path)
{
    const auto fail = [&path](const std::string& problem) { throw Error(Input::CameraFile, problem, path); };
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status))
        fail("no such file");
    if (std::filesystem::is_directory(status))
        fail("is a directory, not a file");

    Camera camera;
    errno = 0;
    const int numbersRead = readCameraNumbers(path, camera);
    if (numbersRead < 0)
        fail(std::string("cannot be opened: ") + std::strerror(errno));
    return checkedCamera(camera, numbersRead, path);
}

} // namespace morvex
