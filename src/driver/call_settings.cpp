#include "driver/call_settings.h"

#include "driver/camera.h"
#include "driver/settings.h"

CallSettings currentCallSettings()
{
    return {g_imageWidth,      g_imageHeight,        g_nearDepthLeft,       g_farDepthLeft,   g_nearDepthRight,
            g_farDepthRight,   g_focalLength,        g_principalPointLeft,  g_principalPointRight,
            g_cameraPosLeft,   g_cameraPosRight,     g_cameraPosMiddle,     g_baselineLeft,   g_baselineRight};
}

void adoptCallSettings(const CallSettings& s)
{
    g_imageWidth = s.imageWidth;
    g_imageHeight = s.imageHeight;
    g_nearDepthLeft = s.nearDepthLeft;
    g_farDepthLeft = s.farDepthLeft;
    g_nearDepthRight = s.nearDepthRight;
    g_farDepthRight = s.farDepthRight;
    g_focalLength = s.focalLength;
    g_principalPointLeft = s.principalPointLeft;
    g_principalPointRight = s.principalPointRight;
    g_cameraPosLeft = s.cameraPosLeft;
    g_cameraPosRight = s.cameraPosRight;
    g_cameraPosMiddle = s.cameraPosMiddle;
    g_baselineLeft = s.baselineLeft;
    g_baselineRight = s.baselineRight;
}
