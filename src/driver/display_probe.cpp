#include "driver/display_probe.h"

#include "readers/plugin_loader.h"
#include "driver/window_plugin.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

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
