#include "driver/command_line.h"
#include "readers/image_memory.h"

int main(int argc, char** argv)
{
    useImageMemory();
    return runCommandLine(argc, argv);
}
