// The entry of every test program that creates windows: the program's own
// resources are linked into it, and the common controls are registered as
// the program's entry does.

#include "BaseWindow.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    g_hInstance = ::GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);

    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
