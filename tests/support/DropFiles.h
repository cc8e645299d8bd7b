#pragma once

// A drop handle as the shell makes one for files dragged onto a window, for
// sending WM_DROPFILES within this process (the handle does not cross
// processes). Whoever receives it releases it with DragFinish.

#include "Win32.h"

#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

inline HDROP MakeDropHandle(const std::vector<std::wstring>& paths)
{
    std::wstring names;
    for (const std::wstring& path : paths)
        names += path + L'\0';
    names += L'\0';
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}
