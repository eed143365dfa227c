#pragma once

// The settings of a run. The tuning values are the library's fixed ones; the
// two switches come from the command line, and the image size is the left
// view's. The driver writes them before any map is computed.

#include "metric/settings.h"

using morvex::detail::g_edgeSteps;
using morvex::detail::g_gradientMix;
using morvex::detail::g_half;
using morvex::detail::g_peakValue;
using morvex::detail::g_reduceFactor;
using morvex::detail::g_searchRadius;
using morvex::detail::g_searchSteps;
using morvex::detail::g_weightOffset;

extern bool g_showMaps;    // show the intermediate maps in windows
extern bool g_printPhases; // print phase banners and phase times

extern int g_imageWidth;  // columns of the left view
extern int g_imageHeight; // rows of the left view
