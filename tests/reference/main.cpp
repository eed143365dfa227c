// morvex-reference: the tool's run in its straightforward form, on top of the
// reference metric: seven paths, the camera file, the six images read in
// turn, the four depth conversions and the two views timed, then the score
// and time lines as the tool prints them. --views (first) also prints the
// two per-view errors with 9 significant digits, enough to restore them.
//   morvex-reference [--views] LEFT RIGHT DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B DEPTH_RIGHT_B CAMERA
#include "driver/camera.h"
#include "driver/report.h"
#include "driver/settings.h"
#include "reference/reference.h"

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

static int clockMilliseconds()
{
    using namespace std::chrono;
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

static void printViewError(const char* name, float error)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(error));
    std::cout << name << " view error: " << text << std::endl;
}

int main(int argc, char** argv)
{
    const bool printViews = argc > 1 && std::strcmp(argv[1], "--views") == 0;
    char** paths = argv + (printViews ? 2 : 1);
    if (argc - (printViews ? 2 : 1) < 7) {
        std::cerr << "usage: morvex-reference [--views] LEFT RIGHT DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B "
                     "DEPTH_RIGHT_B CAMERA"
                  << std::endl;
        return 2;
    }

    try {
        readCameraParameters(paths[6]);
    } catch (const std::exception& e) {
        std::cerr << "morvex-reference: " << e.what() << std::endl;
        return 1;
    }
    cv::Mat viewLeft = cv::imread(paths[0], 0);
    cv::Mat viewLeftF;
    viewLeft.convertTo(viewLeftF, CV_32F, 1.0, 0.0);
    cv::Mat viewRight = cv::imread(paths[1], 0);
    cv::Mat viewRightF;
    viewRight.convertTo(viewRightF, CV_32F, 1.0, 0.0);
    cv::Mat depthLeftA = cv::imread(paths[2], 0);
    cv::Mat depthRightA = cv::imread(paths[3], 0);
    g_imageWidth = viewLeft.cols;
    g_imageHeight = viewLeft.rows;
    cv::Mat depthLeftB = cv::imread(paths[4], 0);
    cv::Mat depthRightB = cv::imread(paths[5], 0);

    const cv::Mat* images[] = {&viewLeft, &viewRight, &depthLeftA, &depthRightA, &depthLeftB, &depthRightB};
    for (int i = 0; i < 6; ++i)
        if (images[i]->empty() || images[i]->size() != viewLeft.size()) {
            std::cerr << "morvex-reference: " << paths[i] << ": not readable, or not of the left view's size"
                      << std::endl;
            return 1;
        }

    const int start = clockMilliseconds();
    cv::Mat dispLeftA, dispRightA, dispLeftB, dispRightB;
    reference::depthToDisparity(depthLeftA, dispLeftA, 'L');
    reference::depthToDisparity(depthRightA, dispRightA, 'R');
    reference::depthToDisparity(depthLeftB, dispLeftB, 'L');
    reference::depthToDisparity(depthRightB, dispRightB, 'R');
    const float scoreLeft = reference::evaluateView(viewLeftF, dispLeftA, dispLeftB);
    const float scoreRight = reference::evaluateView(viewRightF, dispRightA, dispRightB);

    const float m = scoreRight * g_half + scoreLeft * g_half;
    const float root = sqrtf(m);
    const float q = g_peakValue / root;
    const float score = logf(q) * 20.0f;
    writeScoreLine(std::cout, score);
    const int end = clockMilliseconds();
    writeTimeLine(std::cout, static_cast<float>(end - start) / 1000.0f);

    if (printViews) {
        printViewError("left", scoreLeft);
        printViewError("right", scoreRight);
    }
    return 0;
}
