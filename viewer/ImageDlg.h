#pragma once

#include "BaseDialog.h"

class CClientView;

// An image window: dialog 129 with the scrolling view above a status bar
// that describes the marked pixel. Closing it asks the main window to hide
// both image windows; it is never destroyed before its owner.
class CImageDlg : public CBaseDialog
{
public:
    CImageDlg() = default;
    ~CImageDlg() override;

    bool Create(UINT templateId, HWND parent) override;
    INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    void LayoutChildren();
    // Marks image pixel (x, y) and describes it in the status bar; (-1, -1)
    // clears both.
    void MarkPixel(int x, int y);

    CClientView* m_pClientView = nullptr;
    HWND m_hStatusBar = nullptr;
};
