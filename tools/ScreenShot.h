#pragma once

#include "Win32.h"

#include <string>

// Writes what the screen shows of the window (the desktop window: the whole
// screen) as a 24-bit BMP file.
bool SaveWindowShot(HWND hwnd, const std::wstring& path);
