#pragma once

#include <opencv2/core.hpp>

// Result of pooling one view: the weighted mean of the counted squared
// errors, and how many terms (pixel and pass) were counted.
struct PooledError {
    float error;
    long long countedTerms;
};

// Pools both error maps with their weights over the pixels whose mark equals
// g_peakValue, accumulating row by row in double.
PooledError poolErrors(cv::Mat matSelfSim, cv::Mat matSelfWeight, cv::Mat matValidSelf, cv::Mat matInvadSim,
                       cv::Mat matInvadWeight, cv::Mat matValidInvad);
