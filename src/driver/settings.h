#pragma once

// Tuning values and switches of the metric. They are fixed for a whole run:
// only the driver writes them (the image size, and the two switches from the
// command line), and it does so before any map is computed.

extern float g_peakValue;     // score numerator, inverse-depth numerator, mark value, display top
extern float g_half;          // weight of each view in the score; midpoint factor
extern int g_reduceFactor;    // edge strengths are computed at 1/8 of the size
extern int g_searchRadius;    // half-width of the summed column window of the search
extern int g_searchSteps;     // correction steps made for every searched pixel
extern int g_edgeSteps;       // further correction steps at disparity edges
extern float g_gradientMix;   // share of the disparity edges in the mixed edge strength
extern float g_weightOffset;  // added to every weight
extern bool g_showMaps;       // show the intermediate maps in windows
extern bool g_printPhases;    // print phase banners and phase times

// The image size is set per computation and belongs to the thread that runs
// it, so that computations on several threads may differ in size.
extern thread_local int g_imageWidth;  // columns of the left view
extern thread_local int g_imageHeight; // rows of the left view
