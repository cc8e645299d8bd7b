// The entry of every test program that creates windows: the program's own
// resources are linked in, and the windowing starts as the program's does.

#include "BaseWindow.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    InitWindowing(::GetModuleHandleW(nullptr));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
