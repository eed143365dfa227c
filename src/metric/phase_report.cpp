#include "metric/phase_report.h"

#include "driver/settings.h"

#include <chrono>
#include <iostream>

static std::ostream* phaseOutput = &std::cout;

void setPhaseOutput(std::ostream& out)
{
    phaseOutput = &out;
}

int clockMilliseconds()
{
    using namespace std::chrono;
    static const steady_clock::time_point origin = steady_clock::now();
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

void printTimeLine(std::ostream& out, int start)
{
    const int elapsed = clockMilliseconds() - start;
    out << "Time: " << static_cast<float>(elapsed) / 1000.0f << "(sec)" << std::endl;
}

void beginPhase(int& phaseStart, const char* phaseName)
{
    if (!g_printPhases)
        return;
    phaseStart = clockMilliseconds();
    *phaseOutput << "<<" << phaseName << ">>" << std::endl;
}

void nextPhase(int& phaseStart, const char* phaseName)
{
    if (!g_printPhases)
        return;
    printTimeLine(*phaseOutput, phaseStart);
    *phaseOutput << "<<" << phaseName << ">>" << std::endl;
    phaseStart = clockMilliseconds();
}

void endPhases(int phaseStart)
{
    if (!g_printPhases)
        return;
    printTimeLine(*phaseOutput, phaseStart);
}
