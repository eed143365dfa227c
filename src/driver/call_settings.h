#pragma once

// The values that each computation sets for itself: the image size and the
// camera values. They are thread-local, so a thread that works for another
// one (a view, a frame of a sequence) starts from a copy of its caller's.
struct CallSettings {
    int imageWidth, imageHeight;
    float nearDepthLeft, farDepthLeft, nearDepthRight, farDepthRight;
    float focalLength, principalPointLeft, principalPointRight;
    float cameraPosLeft, cameraPosRight, cameraPosMiddle, baselineLeft, baselineRight;
};

// This thread's values.
CallSettings currentCallSettings();

// Makes `settings` this thread's values.
void adoptCallSettings(const CallSettings& settings);
