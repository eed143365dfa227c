#pragma once

#include <opencv2/core.hpp>

// What a caller may want to know of one view besides its error.
struct ViewDetails {
    long long countedTerms = 0;      // error terms pooled (a pixel counts once per pass)
    long long disagreeingPixels = 0; // pixels whose two disparities differ
    bool keepMaps = false;           // set by the caller to receive the maps below
    cv::Mat matSelfSim, matInvadSim, matSelfWeight, matInvadWeight, matValidSelf, matValidInvad;
};

// The per-view metric: the weighted mean squared error of the view against
// its re-syntheses from the two disparity maps. view, dispA and dispB are
// float maps of g_imageHeight x g_imageWidth; none of them is written.
float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB);
float evaluateView(cv::Mat view, cv::Mat dispA, cv::Mat dispB, ViewDetails* details);

// One view scored from its 8-bit grey image and its 8-bit depth maps of sets
// A and B, converted with the camera of `side` ('L' or 'R'). The same result
// as evaluateView on the view as floats and the converted depth maps.
float evaluateDepthView(const cv::Mat& view, const cv::Mat& depthA, const cv::Mat& depthB, char side,
                        ViewDetails* details);
