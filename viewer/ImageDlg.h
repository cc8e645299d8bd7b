#pragma once

#include "BaseDialog.h"

#include <memory>

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

    // Places the view and the status bar, and has the view lay out the
    // control even when its own size stays (after a load of another size).
    void LayoutChildren();
    // Marks image pixel (x, y) and describes it in the status bar; (-1, -1)
    // clears both.
    void MarkPixel(int x, int y);

    std::unique_ptr<CClientView> m_pClientView;
    HWND m_hStatusBar = nullptr;
};
