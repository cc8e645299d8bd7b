#pragma once

#include "Win32.h"

// The about box's procedure (dialog 103): it closes on OK and on Cancel
// (its button, Enter, Escape; it has no close box) and on nothing else.
INT_PTR CALLBACK AboutDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
