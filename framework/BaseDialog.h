#pragma once

#include "Win32.h"

// A window built from a dialog template, bound to this object through the
// dialog's user-data slot. A modeless dialog is bound after
// CreateDialogParamW returns and so never sees WM_INITDIALOG; a modal one is
// bound by WM_INITDIALOG, which is the first message its DialogProc gets.
class CBaseDialog
{
public:
    CBaseDialog() = default;
    // Leaves the dialog window alone: a modeless dialog dies with its owner,
    // a modal one when it is ended.
    virtual ~CBaseDialog() = default;
    CBaseDialog(const CBaseDialog&) = delete;
    CBaseDialog& operator=(const CBaseDialog&) = delete;

    virtual bool Create(UINT templateId, HWND parent);
    virtual INT_PTR DoModal(UINT templateId, HWND parent);
    // TRUE for what it handles, FALSE for the dialog manager's default.
    virtual INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
};

INT_PTR CALLBACK ModelessDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ModalDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
