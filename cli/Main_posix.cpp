#include "DiffTool.h"
#include "Platform.h"

int main(int argc, char** argv)
{
    RemoveUnfinishedOutputsOnInterrupt();
    return RunDiffTool(argc, argv);
}
