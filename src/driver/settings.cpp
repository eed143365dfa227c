#include "driver/settings.h"

float g_peakValue = 1.0f;
float g_half = 0.5f;
int g_reduceFactor = 8;
int g_searchRadius = 0;
int g_searchSteps = 0;
int g_edgeSteps = 2;
float g_gradientMix = 0.9f;
float g_weightOffset = 0.0001f;
bool g_showMaps = false;
bool g_printPhases = false;

thread_local int g_imageWidth = 0;
thread_local int g_imageHeight = 0;
