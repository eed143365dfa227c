#pragma once

#include <morvex/morvex.h>

#include <string>

// Camera values of the stereo pair, read from the camera parameter file: nine
// numbers in this order, then three values derived from them.
extern float g_nearDepthLeft;        // depth that a left depth value of 255 stands for
extern float g_farDepthLeft;         // depth that a left depth value of 0 stands for
extern float g_nearDepthRight;
extern float g_farDepthRight;
extern float g_focalLength;          // pixels
extern float g_principalPointLeft;   // horizontal, pixels
extern float g_principalPointRight;
extern float g_cameraPosLeft;        // position along the baseline
extern float g_cameraPosRight;

extern float g_cameraPosMiddle;      // the virtual middle camera
extern float g_baselineLeft;         // left camera minus middle camera
extern float g_baselineRight;        // right camera minus middle camera

// Reads the nine numbers of the camera file in file order into the camera
// values, then derives the middle position and the two baselines. Throws
// morvex::Error, leaving every value as it was, when the file cannot be read
// or its values cannot be used.
void readCameraParameters(const std::string& path);

// Derives the middle camera position and the two baselines from the positions.
void deriveCameraBaselines();

// The nine camera values as the library takes them.
morvex::Camera cameraFromGlobals();

// Makes `camera` the camera values, baselines derived.
void setCameraGlobals(const morvex::Camera& camera);
