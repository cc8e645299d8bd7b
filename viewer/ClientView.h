#pragma once

#include "BaseWindow.h"

#include <memory>

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
    // Lays the view out for a control that has changed its size while the
    // view kept its own: from the whole view, as if the old image's bars had
    // never been there.
    void FitNewImage();
    void OnScroll(int bar, UINT code, UINT thumb);

    CMovieViewCtrl& ViewCtrl() { return *m_pViewCtrl; }

private:
    void FitScrollPages();

    std::unique_ptr<CMovieViewCtrl> m_pViewCtrl;

    int m_nLayoutDepth = 0;
};
