#pragma once

#include <opencv2/core.hpp>

// Squared difference between the view and a synthesised copy of it, on a
// 0..1 scale: ((view - synthesised) / 255)^2.
void computeErrorMap(cv::Mat view, cv::Mat synthesised, cv::Mat& errorMap);

// Weight of each error: the mixed edge strength of the view and of dispA,
// times a disparity magnitude map, plus g_weightOffset.
void computeWeightMap(cv::Mat matGradView, cv::Mat matGradDisp, cv::Mat matAbsDisp, cv::Mat& weightMap);
