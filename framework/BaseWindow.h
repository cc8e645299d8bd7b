#pragma once

#include "Win32.h"

// The program's instance handle: set by the entry before any window exists,
// used for every class registration, window, dialog and resource.
extern HINSTANCE g_hInstance;

// A child window with a window class of its own, bound to this object through
// the window's user-data slot. Binding happens after CreateWindowExW returns,
// so the creation messages (WM_NCCREATE, WM_CREATE, the first WM_SIZE) go to
// DefWindowProcW and derived classes set themselves up in Create.
class CBaseWindow
{
public:
    CBaseWindow() = default;
    // Destroys the window. By now the object is only a CBaseWindow, so the
    // destruction's own messages get the default handling.
    virtual ~CBaseWindow();
    CBaseWindow(const CBaseWindow&) = delete;
    CBaseWindow& operator=(const CBaseWindow&) = delete;

    virtual const wchar_t* GetWndClassName() = 0;
    virtual bool Create(DWORD style, int x, int y, int width, int height, HWND parent);
    virtual LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
};

// Registers the window class named by `window`'s GetWndClassName, with
// BaseWndProc as its procedure. The result is not reported: a failure shows
// as windows of that class failing to be created.
void RegisterWndClass(CBaseWindow& window);

// Registers the class of `Window` on the first construction of such an object
// in the process, and never again; each window class calls this from its
// constructor.
template <typename Window>
void RegisterWndClassOnce(Window& window)
{
    static bool s_bRegistered = false;
    if (!s_bRegistered) {
        RegisterWndClass(window);
        s_bRegistered = true;
    }
}

// What the program's entry does before any window exists: remembers the
// instance and registers the common controls the windows use.
void InitWindowing(HINSTANCE instance);

// Routes each message to the bound object's WindowProc; unbound windows get
// DefWindowProcW.
LRESULT CALLBACK BaseWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
