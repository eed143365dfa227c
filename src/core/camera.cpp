#include "metric/settings.h"

#include <morvex/morvex.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace morvex {

using detail::g_half;

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
    : std::runtime_error(errorMessage(input, problem, path)), input_(input), problem_(problem), path_(path)
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

namespace {

std::string cameraCountProblem(const std::string& found)
{
    return "needs nine numbers (near and far depth of each camera, focal length, both principal points, both "
           "camera positions), but " + found;
}

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

// The next run of characters up to white space; nextChar() gives EOF at the end.
template <class NextChar>
std::string nextToken(NextChar nextChar)
{
    int ch = nextChar();
    while (ch != EOF && std::isspace(ch))
        ch = nextChar();
    std::string token;
    for (; ch != EOF && !std::isspace(ch); ch = nextChar())
        token += static_cast<char>(ch);
    return token;
}

// A number is a whole token in decimal: optional sign, digits with an
// optional fraction, optional exponent; "%f" took "1e" or "1e+" as 1 and
// left the rest. Infinity and NaN are taken too, so that the check of the
// values can name them. Converted as "%f" converts it.
bool parseNumber(const std::string& token, float& value)
{
    std::size_t at = token.size() > 0 && (token[0] == '+' || token[0] == '-') ? 1 : 0;
    std::string word = token.substr(at);
    for (char& ch : word)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (word == "inf" || word == "infinity" || word == "nan") {
        value = std::strtof(token.c_str(), nullptr);
        return true;
    }
    const auto digits = [&token, &at] {
        const std::size_t start = at;
        while (at < token.size() && token[at] >= '0' && token[at] <= '9')
            ++at;
        return at - start;
    };
    std::size_t mantissa = digits();
    if (at < token.size() && token[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
        ++at;
        if (at < token.size() && (token[at] == '+' || token[at] == '-'))
            ++at;
        if (digits() == 0)
            return false;
    }
    if (at != token.size())
        return false;
    value = std::strtof(token.c_str(), nullptr);
    return true;
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

// Reads the numbers of a camera file into `camera` in file order, each as
// "%f" would, stopping at the first that cannot be read. Returns how many
// were read, or -1 when the file cannot be opened.
int readCameraNumbers(const std::string& path, Camera& camera)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!file)
        return -1;
    return readNumbers(camera, [&file](float& value) {
        return parseNumber(nextToken([&file] { return std::getc(file.get()); }), value);
    });
}

} // namespace

Camera Camera::fromText(const std::string& text)
{
    Camera camera;
    const char* next = text.c_str();
    const int numbersRead = readNumbers(camera, [&next](float& value) {
        return parseNumber(nextToken([&next] { return *next == '\0' ? EOF : static_cast<unsigned char>(*next++); }),
                           value);
    });
    return checkedCamera(camera, numbersRead, "");
}

Camera Camera::fromValues(const std::vector<float>& values)
{
    if (values.size() != 9)
        throw Error(Input::CameraFile, cameraCountProblem(std::to_string(values.size()) + " were given"));
    Camera camera;
    int next = 0;
    readNumbers(camera, [&](float& value) {
        value = values[next++];
        return true;
    });
    return checkedCamera(camera, 9, "");
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
