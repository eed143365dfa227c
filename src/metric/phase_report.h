#pragma once

#include <ostream>

// Milliseconds of a monotonic clock, as an int; only differences matter.
int clockMilliseconds();

// Writes "Time: <seconds>(sec)" for the milliseconds since start.
void printTimeLine(std::ostream& out, int start);

// Phase banners and times of the view metric, on standard output unless
// setPhaseOutput chose another stream. They print and read the clock only
// when g_printPhases is set.
void setPhaseOutput(std::ostream& out);
void beginPhase(int& phaseStart, const char* phaseName); // banner of the first phase
void nextPhase(int& phaseStart, const char* phaseName);  // time of the last phase, banner of the next
void endPhases(int phaseStart);                          // time of the last phase
