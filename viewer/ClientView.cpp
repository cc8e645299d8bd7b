#include "ClientView.h"

#include "MovieViewCtrl.h"

#include <utility>

CClientView::CClientView()
{
    RegisterWndClassOnce(*this);
}

CClientView::~CClientView() = default;

bool CClientView::Create(DWORD style, int x, int y, int width, int height, HWND parent)
{
    const bool created = CBaseWindow::Create(style, x, y, width, height, parent);
    m_pViewCtrl = std::make_unique<CMovieViewCtrl>();
    m_pViewCtrl->Create(WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd);
    return created;
}

LRESULT CClientView::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SIZE:
        UpdateLayout();
        return 0;
    case WM_HSCROLL:
        OnScroll(SB_HORZ, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_VSCROLL:
        OnScroll(SB_VERT, LOWORD(wParam), HIWORD(wParam));
        return 0;
    default:
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

// Showing or hiding a bar changes the client area and sends WM_SIZE at once,
// so this runs nested; each run uses the client size it read at its start,
// and the outermost run, which ends last, places the control for good.
void CClientView::UpdateLayout()
{
    const SIZE image = m_pViewCtrl->GetViewSize();
    if (image.cx == 0)
        return;
    ++m_nLayoutDepth;
    RECT client;
    ::GetClientRect(m_hWnd, &client);

    const auto layoutAxis = [this](int bar, int extent, int room) {
        int offset = (room - extent) / 2;
        const bool scrolled = offset < 0;
        if (scrolled) {
            SCROLLINFO info = {};
            info.cbSize = sizeof info;
            info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
            info.nMin = 0;
            info.nMax = extent;
            info.nPage = UINT(room);
            info.nPos = 0;
            ::SetScrollInfo(m_hWnd, bar, &info, TRUE);
            offset = 0;
        }
        ::ShowScrollBar(m_hWnd, bar, scrolled);
        return offset;
    };
    const int x = layoutAxis(SB_HORZ, image.cx, client.right);
    const int y = layoutAxis(SB_VERT, image.cy, client.bottom);

    ::SetWindowPos(m_pViewCtrl->m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ::InvalidateRect(m_pViewCtrl->m_hWnd, nullptr, FALSE);
    if (--m_nLayoutDepth == 0)
        FitScrollPages();
}

// Hiding a shown bar lays the view out at once (WM_SIZE); with none shown
// nothing does, so the layout runs here.
void CClientView::FitNewImage()
{
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    if (style & (WS_HSCROLL | WS_VSCROLL))
        ::ShowScrollBar(m_hWnd, SB_BOTH, FALSE);
    else
        UpdateLayout();
}

// The outer run may have set a bar's page from a client size that the other
// bar then made smaller. Each shown bar's page becomes the room that is left
// once both bars are in place, so that at the largest position the image's
// last column and row lie at the view's edge.
void CClientView::FitScrollPages()
{
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    const std::pair<int, LONG> bars[] = {{SB_HORZ, client.right}, {SB_VERT, client.bottom}};
    for (const auto& [bar, room] : bars) {
        if (!(style & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL)))
            continue;
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_PAGE;
        info.nPage = UINT(room);
        ::SetScrollInfo(m_hWnd, bar, &info, TRUE);
    }
}

void CClientView::OnScroll(int bar, UINT code, UINT thumb)
{
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    ::GetScrollInfo(m_hWnd, bar, &info);
    if (code > SB_BOTTOM)
        return;

    // The message carries only the low 16 bits of the thumb's place; during a
    // drag the bar itself knows all 32, which matters for extents above
    // 65,535 pixels. A message that does not come from a drag keeps its value.
    if ((code == SB_THUMBTRACK || code == SB_THUMBPOSITION) && (UINT(info.nTrackPos) & 0xFFFF) == thumb)
        thumb = UINT(info.nTrackPos);

    const int line = 16 * m_pViewCtrl->GetZoom();
    int position = info.nPos;
    switch (code) {
    case SB_LINEUP: position -= line; break;
    case SB_LINEDOWN: position += line; break;
    case SB_PAGEUP: position -= int(info.nPage); break;
    case SB_PAGEDOWN: position += int(info.nPage); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: position = int(thumb); break;
    case SB_TOP: position -= line; break;     // one line, not to the start
    case SB_BOTTOM: position += line; break;  // one line, not to the end
    }
    if (position < 0)
        position = 0;
    else if (position > info.nMax - int(info.nPage))
        position = info.nMax - int(info.nPage);

    info.fMask = SIF_POS;
    info.nPos = position;
    ::SetScrollInfo(m_hWnd, bar, &info, TRUE);

    RECT control;
    ::GetWindowRect(m_pViewCtrl->m_hWnd, &control);
    POINT corner = {control.left, control.top};
    ::ScreenToClient(m_hWnd, &corner);
    if (bar == SB_HORZ)
        corner.x = -position;
    else
        corner.y = -position;
    ::SetWindowPos(m_pViewCtrl->m_hWnd, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
