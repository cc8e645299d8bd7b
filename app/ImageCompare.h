#pragma once

#include "BaseDialog.h"
#include "DiffList.h"

// The main comparison window, dialog 130, run modally by the entry. It lives
// for the whole process as one static object.
class CImageCompare : public CBaseDialog
{
public:
    CImageCompare() = default;
    ~CImageCompare() override = default;

    INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    HMENU m_hMenu = nullptr;
    HWND m_hList = nullptr;
    bool m_bLoaded = false;
    DiffList m_DiffList;

private:
    void OnInitDialog();
    void OnSize();
    void OnPaint();
    bool OnCommand(UINT id);
    void OnAbout();
};

extern CImageCompare g_ImageCompare;
