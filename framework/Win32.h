#pragma once

// The one place that includes <windows.h>, with the definitions every
// translation unit of the Windows program must agree on.

#ifndef STRICT
#define STRICT
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>

// Messages carry pointers and handles in integer parameters; these say so
// once instead of casting in every handler.
template <typename T>
T* AsPointer(LPARAM value)
{
    return reinterpret_cast<T*>(value);
}

template <typename T>
LPARAM AsLParam(T* pointer)
{
    return reinterpret_cast<LPARAM>(pointer);
}
