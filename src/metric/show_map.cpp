#include "metric/show_map.h"

#include "driver/plugin_loader.h"
#include "driver/settings.h"
#include "driver/window_plugin.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// The low eight bits of t truncated toward zero; values past the 64-bit
// range and NaN (a map without range) give 0.
static uint8_t lowByteOfTruncation(float t)
{
    if (!(std::fabs(t) < 9.2e18f))
        return 0;
    return static_cast<uint8_t>(static_cast<uint64_t>(static_cast<int64_t>(t)) & 0xFFu);
}

cv::Mat renderMap(cv::Mat map, bool autoRange)
{
    float low = 0.0f;
    float high = g_peakValue;
    if (autoRange) {
        low = 100000.0f;
        high = -100000.0f;
        for (int r = 0; r < map.rows; ++r) {
            const float* row = map.ptr<float>(r);
            for (int c = 0; c < map.cols; ++c) {
                if (low > row[c])
                    low = row[c];
                if (row[c] > high)
                    high = row[c];
            }
        }
    }
    const float span = high - low;

    cv::Mat image = cv::Mat::zeros(map.rows, map.cols, CV_8U);
    for (int r = 0; r < map.rows; ++r) {
        const float* row = map.ptr<float>(r);
        uint8_t* out = image.ptr<uint8_t>(r);
        for (int c = 0; c < map.cols; ++c) {
            const float t = ((row[c] - low) * 255.0f) / span;
            out[c] = lowByteOfTruncation(t);
        }
    }
    return image;
}

void showMap(cv::Mat map, const char* windowName, bool autoRange)
{
    if (!g_showMaps)
        return;
    showInWindow(windowName, renderMap(map, autoRange));
}

namespace {

const char* const kProbeWindow = "morvex";
const int kProbeSeconds = 10;

bool openProbeWindow()
{
    try {
        return openAndCloseWindow(kProbeWindow);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

std::string displayProblem()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string display;
    if (x11 != nullptr && *x11 != '\0')
        display = std::string("DISPLAY=") + x11;
    else if (wayland != nullptr && *wayland != '\0')
        display = std::string("WAYLAND_DISPLAY=") + wayland;
    else
        return "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";

    // Loaded here, so that the child below has it too and a missing plugin
    // is named as such.
    try {
        loadWindowPlugin();
    } catch (const PluginError& e) {
        return std::string("the window plugin cannot be loaded: ") + e.what();
    }

    // The window library may abort the process when it cannot reach the
    // display (Qt does) or wait on a server that does not answer, so a
    // child process opens the first window; its messages go nowhere.
    const pid_t child = fork();
    if (child < 0)
        return std::string("cannot check the display: ") + std::strerror(errno);
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        _exit(openProbeWindow() ? 0 : 1);
    }

    int status = 0;
    for (int waitedMs = 0;; waitedMs += 20) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR)
            return std::string("cannot check the display: ") + std::strerror(errno);
        if (waitedMs >= kProbeSeconds * 1000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return "no window opened on " + display + " within " + std::to_string(kProbeSeconds) + " seconds";
        }
        usleep(20 * 1000);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !openProbeWindow())
        return "cannot open a window on " + display;
    return std::string();
}
