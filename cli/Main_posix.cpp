#include "DiffTool.h"
#include "Platform.h"

int main(int argc, char** argv)
{
    RemoveUnfinishedOutputsOnInterrupt();
    GuardMappedInputs();
    return RunDiffTool(argc, argv);
}
