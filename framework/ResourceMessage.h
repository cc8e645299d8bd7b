#pragma once

#include "Win32.h"

// Shows string `stringId` of the string table (at most 127 characters) in an
// OK message box owned by `owner`, with the system's default caption.
int ShowResourceMessage(UINT stringId, HWND owner);
