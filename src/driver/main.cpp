#include "driver/run.h"

#include <iostream>

int main(int argc, char** argv)
{
    if (argc < 1 + kInputCount) {
        std::cerr << "usage: morvex LEFT_VIEW RIGHT_VIEW DEPTH_LEFT_A DEPTH_RIGHT_A DEPTH_LEFT_B DEPTH_RIGHT_B "
                     "CAMERA_FILE\n";
        return 2;
    }
    InputPaths paths;
    for (int i = 0; i < kInputCount; ++i)
        paths[i] = argv[1 + i];
    return runScoring(paths, std::cout);
}
