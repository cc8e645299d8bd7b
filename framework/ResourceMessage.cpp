#include "ResourceMessage.h"

#include "BaseWindow.h"

int ShowResourceMessage(UINT stringId, HWND owner)
{
    wchar_t text[128] = {};
    ::LoadStringW(g_hInstance, stringId, text, ARRAYSIZE(text));
    return ::MessageBoxW(owner, text, nullptr, MB_OK);
}
