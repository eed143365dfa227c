#include "driver/run.h"

#include "driver/camera.h"
#include "driver/disparity.h"
#include "driver/score.h"
#include "driver/settings.h"
#include "metric/evaluate_view.h"
#include "metric/phase_report.h"

#include <opencv2/imgcodecs.hpp>

static cv::Mat toFloatView(const cv::Mat& view)
{
    cv::Mat viewF;
    view.convertTo(viewF, CV_32F, 1.0, 0.0);
    return viewF;
}

void scorePair(const PairImages& images, std::ostream& out)
{
    const cv::Mat viewLeftF = toFloatView(images.viewLeft);
    const cv::Mat viewRightF = toFloatView(images.viewRight);

    const int start = clockMilliseconds();
    cv::Mat dispLeftA, dispRightA, dispLeftB, dispRightB;
    depthToDisparity(images.depthLeftA, dispLeftA, 'L');
    depthToDisparity(images.depthRightA, dispRightA, 'R');
    depthToDisparity(images.depthLeftB, dispLeftB, 'L');
    depthToDisparity(images.depthRightB, dispRightB, 'R');

    const float scoreLeft = evaluateView(viewLeftF, dispLeftA, dispLeftB);
    const float scoreRight = evaluateView(viewRightF, dispRightA, dispRightB);
    const float score = combineViewErrors(scoreLeft, scoreRight);

    out << "MORVEX Score: " << score << std::endl;
    const int elapsed = clockMilliseconds() - start;
    out << "Computational Time: " << static_cast<float>(elapsed) / 1000.0f << "(sec)" << std::endl << std::endl;
}

int runScoring(const InputPaths& paths, std::ostream& out)
{
    readCameraParameters(paths[kCameraFile]);

    PairImages images;
    images.viewLeft = cv::imread(paths[kLeftView], cv::IMREAD_GRAYSCALE);
    images.viewRight = cv::imread(paths[kRightView], cv::IMREAD_GRAYSCALE);
    images.depthLeftA = cv::imread(paths[kDepthLeftA], cv::IMREAD_GRAYSCALE);
    images.depthRightA = cv::imread(paths[kDepthRightA], cv::IMREAD_GRAYSCALE);
    g_imageWidth = images.viewLeft.cols;
    g_imageHeight = images.viewLeft.rows;
    images.depthLeftB = cv::imread(paths[kDepthLeftB], cv::IMREAD_GRAYSCALE);
    images.depthRightB = cv::imread(paths[kDepthRightB], cv::IMREAD_GRAYSCALE);

    scorePair(images, out);
    return 0;
}
