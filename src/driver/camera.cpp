#include "driver/camera.h"

float g_nearDepthLeft = 0.0f;
float g_farDepthLeft = 0.0f;
float g_nearDepthRight = 0.0f;
float g_farDepthRight = 0.0f;
float g_focalLength = 0.0f;
float g_principalPointLeft = 0.0f;
float g_principalPointRight = 0.0f;
float g_cameraPosLeft = 0.0f;
float g_cameraPosRight = 0.0f;

float g_cameraPosMiddle = 0.0f;
float g_baselineLeft = 0.0f;
float g_baselineRight = 0.0f;

morvex::Camera cameraFromGlobals()
{
    return {g_nearDepthLeft,      g_farDepthLeft,        g_nearDepthRight,
            g_farDepthRight,      g_focalLength,         g_principalPointLeft,
            g_principalPointRight, g_cameraPosLeft,      g_cameraPosRight};
}

void deriveCameraBaselines()
{
    const morvex::Camera camera = cameraFromGlobals();
    g_cameraPosMiddle = camera.cameraPosMiddle();
    g_baselineLeft = camera.baselineLeft();
    g_baselineRight = camera.baselineRight();
}

void readCameraParameters(const std::string& path)
{
    setCameraGlobals(morvex::Camera::fromFile(path));
}

void setCameraGlobals(const morvex::Camera& camera)
{
    g_nearDepthLeft = camera.nearDepthLeft;
    g_farDepthLeft = camera.farDepthLeft;
    g_nearDepthRight = camera.nearDepthRight;
    g_farDepthRight = camera.farDepthRight;
    g_focalLength = camera.focalLength;
    g_principalPointLeft = camera.principalPointLeft;
    g_principalPointRight = camera.principalPointRight;
    g_cameraPosLeft = camera.cameraPosLeft;
    g_cameraPosRight = camera.cameraPosRight;
    deriveCameraBaselines();
}
