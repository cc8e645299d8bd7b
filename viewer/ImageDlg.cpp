#include "ImageDlg.h"

#include "BaseWindow.h"
#include "ClientView.h"
#include "MovieViewCtrl.h"
#include "resource.h"

#include <cwchar>

namespace {

// The band at the bottom reserved for the status bar.
constexpr int c_nStatusHeight = 28;

} // namespace

CImageDlg::~CImageDlg() = default;

// Bound only after CreateDialogParamW returns: the dialog's WM_INITDIALOG and
// first WM_SIZE never arrive here, so all set-up happens below.
bool CImageDlg::Create(UINT templateId, HWND parent)
{
    const bool created = CBaseDialog::Create(templateId, parent);

    m_pClientView = std::make_unique<CClientView>();
    m_pClientView->Create(WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd);

    HICON icon = ::LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_TOBREL));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, AsLParam(icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, AsLParam(icon));

    m_hStatusBar = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                                     0, 0, 0, c_nStatusHeight, m_hWnd, nullptr, g_hInstance, nullptr);
    return created;
}

// Every message also gets the dialog manager's default handling; for the
// close request that ends in IDCANCEL, which nobody acts on.
INT_PTR CImageDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_SIZE:
        LayoutChildren();
        break;
    case WM_SYSCOMMAND:
        if (wParam == SC_CLOSE)
            ::SendMessageW(::GetParent(hwnd), WM_COMMAND, IDM_SHOW_IMAGES, 0);
        break;
    }
    return FALSE;
}

void CImageDlg::LayoutChildren()
{
    if (!m_pClientView)
        return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int viewHeight = client.bottom > c_nStatusHeight ? client.bottom - c_nStatusHeight : 0;
    RECT before;
    ::GetWindowRect(m_pClientView->m_hWnd, &before);
    ::SetWindowPos(m_pClientView->m_hWnd, nullptr, 0, 0, client.right, viewHeight, SWP_NOZORDER);
    ::SetWindowPos(m_hStatusBar, nullptr, 0, client.bottom - c_nStatusHeight, client.right,
                   c_nStatusHeight, SWP_NOZORDER);
    // A new size reaches the view as WM_SIZE, which lays it out; the same
    // size does not, yet the control in it may have changed.
    RECT after;
    ::GetWindowRect(m_pClientView->m_hWnd, &after);
    if (after.right - after.left == before.right - before.left && after.bottom - after.top == before.bottom - before.top)
        m_pClientView->FitNewImage();
}

void CImageDlg::MarkPixel(int x, int y)
{
    CMovieViewCtrl* control = &m_pClientView->ViewCtrl();
    control->SetMarkerPos(x, y);
    const PixelColor colour = control->GetPixelColor(x, y);
    wchar_t text[64] = {};
    if (x >= 0 && y >= 0)
        std::swprintf(text, ARRAYSIZE(text), L"XY=(%d, %d), RGB=(%d, %d, %d)", x, y, colour.red,
                      colour.green, colour.blue);
    ::SendMessageW(m_hStatusBar, SB_SETTEXTW, 0, AsLParam(text));
}
