#include "ImageCompare.h"

#include "AboutDialog.h"
#include "BaseWindow.h"
#include "resource.h"

namespace {

// The list fills the client area below the controls of the first rows.
constexpr int c_nListTop = 81;

} // namespace

CImageCompare g_ImageCompare;

INT_PTR CImageCompare::DialogProc(HWND, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_SIZE:
        OnSize();
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
        if (wParam != SC_CLOSE)
            return FALSE;
        ::EndDialog(m_hWnd, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

void CImageCompare::OnInitDialog()
{
    HICON icon = ::LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_TOBREL));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, AsLParam(icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, AsLParam(icon));

    m_hMenu = ::LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_MAINMENU));
    ::SetMenu(m_hWnd, m_hMenu);
    ::CheckMenuRadioItem(m_hMenu, IDM_ZOOM_1, IDM_ZOOM_8, IDM_ZOOM_1, MF_BYCOMMAND);
    ::CheckMenuRadioItem(m_hMenu, IDM_GRID_NONE, IDM_GRID_BLUE, IDM_GRID_NONE, MF_BYCOMMAND);

    HWND spinner = ::GetDlgItem(m_hWnd, IDC_THRESHOLD_SPIN);
    ::SendMessageW(spinner, UDM_SETRANGE, 0, MAKELPARAM(32, 1));
    ::SendMessageW(spinner, UDM_SETPOS, 0, 1);

    RECT client;
    ::GetClientRect(m_hWnd, &client);
    m_hList = ::GetDlgItem(m_hWnd, IDC_DIFF_LIST);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - client.left;
    ::SendMessageW(m_hList, LVM_INSERTCOLUMNW, 0, AsLParam(&column));
}

void CImageCompare::OnSize()
{
    if (!m_hList)
        return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int height = client.bottom - c_nListTop;
    ::SetWindowPos(m_hList, nullptr, 0, c_nListTop, client.right, height > 0 ? height : 0,
                   SWP_NOZORDER);
}

// The dialog has nothing of its own to draw; validating is all.
void CImageCompare::OnPaint()
{
    PAINTSTRUCT paint;
    ::BeginPaint(m_hWnd, &paint);
    ::EndPaint(m_hWnd, &paint);
}

bool CImageCompare::OnCommand(UINT id)
{
    switch (id) {
    case IDM_ABOUT:
        OnAbout();
        return true;
    case IDM_EXIT:
        ::EndDialog(m_hWnd, 1);
        return true;
    default:
        return false;
    }
}

void CImageCompare::OnAbout()
{
    ::DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), m_hWnd, AboutDlgProc, 0);
}
