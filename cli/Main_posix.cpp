#include "DiffTool.h"

int main(int argc, char** argv)
{
    return RunDiffTool(argc, argv);
}
