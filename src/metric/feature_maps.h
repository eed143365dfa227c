#pragma once

#include <opencv2/core.hpp>

// Rescales a single-channel float map in place to 0..1 by its own minimum and
// maximum. The scan starts from 1e6 / -1e6 and skips NaN elements; a map
// whose scan finds no range (maximum equal to minimum) becomes 0 everywhere.
void normalizeMinMax(cv::Mat& map);

// Correlates a float map with a 3x3 float kernel (anchor at the centre,
// borders reflected without repeating the edge pixel), summing the non-zero
// kernel terms in row-major order from 0 in single precision.
void filter3x3(const cv::Mat& src, cv::Mat& dst, const cv::Mat& kernel);

// Edge strength of a float map: it is reduced by g_reduceFactor, its Sobel
// gradient magnitude is taken there, and the result is scaled back up to the
// full image size (not yet normalised).
void computeEdgeStrength(cv::Mat source, cv::Mat matKernelX, cv::Mat matKernelY, cv::Mat& edgeStrength);

// The four normalised feature maps of a view: the edge strengths of the view
// and of dispA, and the magnitudes of dispA and dispB.
void computeFeatureMaps(cv::Mat view, cv::Mat dispA, cv::Mat dispB, cv::Mat matKernelX, cv::Mat matKernelY,
                        cv::Mat& matGradView, cv::Mat& matGradDisp, cv::Mat& matAbsDispA, cv::Mat& matAbsDispB);
