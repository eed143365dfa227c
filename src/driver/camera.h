#pragma once

#include <string>

// Camera values of the stereo pair, read from the camera parameter file: nine
// numbers in this order, then three values derived from them. Like the image
// size they belong to the thread that reads them, so that threads may score
// with different cameras.
extern thread_local float g_nearDepthLeft;        // depth that a left depth value of 255 stands for
extern thread_local float g_farDepthLeft;         // depth that a left depth value of 0 stands for
extern thread_local float g_nearDepthRight;
extern thread_local float g_farDepthRight;
extern thread_local float g_focalLength;          // pixels
extern thread_local float g_principalPointLeft;   // horizontal, pixels
extern thread_local float g_principalPointRight;
extern thread_local float g_cameraPosLeft;        // position along the baseline
extern thread_local float g_cameraPosRight;

extern thread_local float g_cameraPosMiddle;      // the virtual middle camera
extern thread_local float g_baselineLeft;         // left camera minus middle camera
extern thread_local float g_baselineRight;        // right camera minus middle camera

// Reads the nine numbers with "%f" each, in file order, then derives the
// middle position and the two baselines. Returns how many of the nine numbers
// were read (9 for a complete file); a number that could not be read leaves its
// value at 0, and every later one too. Returns -1 when the file cannot be
// opened, leaving every value as it was.
int readCameraParameters(const std::string& path);

// Derives the middle camera position and the two baselines from the positions.
void deriveCameraBaselines();
