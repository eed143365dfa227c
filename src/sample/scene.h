#pragma once
#include <string>

#include <opencv2/core.hpp>

// A synthetic stereo scene whose true depth is known, for tests, the demo and
// benchmarks: the project never depends on downloaded data.

struct SceneOptions {
    int width = 640;
    int height = 480;
    unsigned seed = 1;
    int frame = 0; // objects drift a few pixels per frame
};

struct SampleScene {
    cv::Mat left, right;                                      // CV_8UC1 grey views
    cv::Mat depthLeftA, depthRightA, depthLeftB, depthRightB; // CV_8UC1, 255 = near
    std::string cameraText;                                   // the nine numbers of the camera file
};

// Set A is the true depth; set B a flawed estimate of it. Same options, same bytes.
SampleScene makeSampleScene(const SceneOptions& options);

// left.png, right.png, depth_{left,right}_{a,b}.png and camera.txt; creates dir.
// Throws std::runtime_error when a file cannot be written.
void writeSampleScene(const SampleScene& scene, const std::string& dir);

// The same six images as raw planar YUV 4:2:0 sequences (grey luma, chroma 128)
// named left.yuv, ..., depth_right_b.yuv, for `frames` frames starting at
// options.frame, plus camera.txt (the camera does not move).
void writeSampleSequence(const SceneOptions& options, int frames, const std::string& dir);
