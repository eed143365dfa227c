#include "driver/settings.h"

bool g_showMaps = false;
bool g_printPhases = false;

int g_imageWidth = 0;
int g_imageHeight = 0;
