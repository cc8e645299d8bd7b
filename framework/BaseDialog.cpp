#include "BaseDialog.h"

#include "BaseWindow.h"

bool CBaseDialog::Create(UINT templateId, HWND parent)
{
    m_hWnd = ::CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(LOWORD(templateId)), parent,
                                  ModelessDlgProc, 0);
    if (m_hWnd)
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, AsLParam(this));
    return m_hWnd != nullptr;
}

INT_PTR CBaseDialog::DoModal(UINT templateId, HWND parent)
{
    return ::DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(LOWORD(templateId)), parent,
                             ModalDlgProc, AsLParam(this));
}

INT_PTR CBaseDialog::DialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

INT_PTR CALLBACK ModelessDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (auto* dialog = AsPointer<CBaseDialog>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
        return dialog->DialogProc(hwnd, msg, wParam, lParam);
    return FALSE;
}

INT_PTR CALLBACK ModalDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CBaseDialog* dialog;
    if (msg == WM_INITDIALOG) {
        dialog = AsPointer<CBaseDialog>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        dialog->m_hWnd = hwnd;
    } else {
        dialog = AsPointer<CBaseDialog>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    return dialog ? dialog->DialogProc(hwnd, msg, wParam, lParam) : FALSE;
}
