#include "BaseWindow.h"
#include "ImageCompare.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    InitWindowing(hInstance);
    return int(g_ImageCompare.DoModal(IDD_MAIN, nullptr));
}
