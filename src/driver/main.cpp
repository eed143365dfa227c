#include "driver/command_line.h"
#include "driver/image_memory.h"

int main(int argc, char** argv)
{
    useImageMemory();
    return runCommandLine(argc, argv);
}
