#include "driver/camera.h"

#include "driver/settings.h"

#include <cstdio>

thread_local float g_nearDepthLeft = 0.0f;
thread_local float g_farDepthLeft = 0.0f;
thread_local float g_nearDepthRight = 0.0f;
thread_local float g_farDepthRight = 0.0f;
thread_local float g_focalLength = 0.0f;
thread_local float g_principalPointLeft = 0.0f;
thread_local float g_principalPointRight = 0.0f;
thread_local float g_cameraPosLeft = 0.0f;
thread_local float g_cameraPosRight = 0.0f;

thread_local float g_cameraPosMiddle = 0.0f;
thread_local float g_baselineLeft = 0.0f;
thread_local float g_baselineRight = 0.0f;

void deriveCameraBaselines()
{
    const float sum = g_cameraPosRight + g_cameraPosLeft;
    g_cameraPosMiddle = sum * g_half;
    g_baselineLeft = g_cameraPosLeft - g_cameraPosMiddle;
    g_baselineRight = g_cameraPosRight - g_cameraPosMiddle;
}

int readCameraParameters(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return -1;

    float* const values[] = {
        &g_nearDepthLeft, &g_farDepthLeft, &g_nearDepthRight, &g_farDepthRight, &g_focalLength,
        &g_principalPointLeft, &g_principalPointRight, &g_cameraPosLeft, &g_cameraPosRight,
    };
    // Reading stops at the first number that cannot be read: it and every
    // value after it keep their previous value.
    int numbersRead = 0;
    for (float* value : values) {
        if (std::fscanf(file, "%f", value) != 1)
            break;
        ++numbersRead;
    }
    deriveCameraBaselines();
    std::fclose(file);
    return numbersRead;
}
