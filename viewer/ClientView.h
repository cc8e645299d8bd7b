#pragma once

#include "BaseWindow.h"

class CMovieViewCtrl;

// The viewport of an image window. It holds the pixel view control, centres
// it on each axis where the enlarged image is smaller than the view, and
// scrolls it by moving it where the image is larger.
class CClientView : public CBaseWindow
{
public:
    CClientView();
    ~CClientView() override;

    const wchar_t* GetWndClassName() override { return L"ClientView"; }
    bool Create(DWORD style, int x, int y, int width, int height, HWND parent) override;
    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Recomputes the scroll bars and places the control; scroll positions
    // return to 0.
    void UpdateLayout();
    void OnScroll(int bar, UINT code, UINT thumb);

    CMovieViewCtrl* m_pViewCtrl = nullptr;

private:
    static bool s_bRegistered;
};
