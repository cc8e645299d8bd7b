#include "MovieViewCtrl.h"

#include "BmpLoader.h"

#include "ScopedSelect.h"

#include <cwchar>

namespace {

// The tip stands this far below the cursor, clear of the pointer itself.
constexpr int c_nTipOffsetY = 20;
constexpr int c_nMaxTipWidth = 200;

int ClampToInt(int64_t value)
{
    return value > INT32_MAX ? INT32_MAX : int(value);
}

} // namespace

CMovieViewCtrl::CMovieViewCtrl()
{
    RegisterWndClassOnce(*this);
}

CMovieViewCtrl::~CMovieViewCtrl()
{
    DeleteSurface();
    FreeImageBuffer(m_image);
    if (m_hGridPen)
        ::DeleteObject(m_hGridPen);
    if (m_hMarkerPen)
        ::DeleteObject(m_hMarkerPen);
    // A pop-up's owner is always a top-level window, so the tip would outlive
    // the control until the image window goes; it goes now. The base
    // destructor then destroys the control's window.
    ::DestroyWindow(m_hTooltip);
}

// The tool record of the control's one tool, which the tooltip asks the
// control for its text. Its size leaves out the trailing reserved member.
TTTOOLINFOW CMovieViewCtrl::ToolRecord() const
{
    TTTOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    return tool;
}

bool CMovieViewCtrl::Create(DWORD style, int x, int y, int width, int height, HWND parent)
{
    const bool created = CBaseWindow::Create(style, x, y, width, height, parent);

    m_hTooltip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, TTS_NOPREFIX, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                   g_hInstance, nullptr);
    TTTOOLINFOW tool = ToolRecord();
    tool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(m_hTooltip, TTM_ADDTOOLW, 0, AsLParam(&tool));
    ::SendMessageW(m_hTooltip, TTM_SETMAXTIPWIDTH, 0, c_nMaxTipWidth);

    m_hMarkerPen = ::CreatePen(PS_SOLID, 2, RGB(255, 0, 0));
    return created;
}

LRESULT CMovieViewCtrl::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_MOUSEMOVE:
        OnMouseMove();
        break;
    case WM_NOTIFY:
        if (AsPointer<NMHDR>(lParam)->code == TTN_GETDISPINFOW)
            OnTooltipGetText(*AsPointer<NMTTDISPINFOW>(lParam));
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void CMovieViewCtrl::DeleteSurface()
{
    if (m_hSurface)
        ::DeleteObject(m_hSurface);
    m_hSurface = nullptr;
    m_pSurfaceBits = nullptr;
}

bool CMovieViewCtrl::RebuildSurface()
{
    DeleteSurface();
    // Nothing loaded, or a record with a negative side: no surface, and the
    // control keeps its size with only its background showing.
    if (m_image.width <= 0 || m_image.height <= 0) {
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
        return false;
    }

    // A surface too large to describe gets none, like one the system refuses;
    // the control still takes the enlarged image's size.
    SurfaceGeometry surface;
    if (ComputeSurfaceGeometry(m_image, m_nZoom, surface)) {
        HDC dc = ::GetDC(m_hWnd);
        m_bmiSurface = {};
        BITMAPINFOHEADER& header = m_bmiSurface.bmiHeader;
        header.biSize = sizeof header;
        header.biWidth = surface.width;
        header.biHeight = surface.height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = surface.bytes;
        m_hSurface = ::CreateDIBSection(dc, &m_bmiSurface, DIB_RGB_COLORS, &m_pSurfaceBits, nullptr, 0);
        if (m_hSurface)
            ReplicateImage(m_image, m_nZoom, surface, static_cast<unsigned char*>(m_pSurfaceBits));
        else
            m_pSurfaceBits = nullptr;
        ::ReleaseDC(m_hWnd, dc);
    }

    const int width = ClampToInt(int64_t(m_nZoom) * m_image.width);
    const int height = ClampToInt(int64_t(m_nZoom) * m_image.height);
    if (width != m_nViewWidth || height != m_nViewHeight) {
        m_nViewWidth = width;
        m_nViewHeight = height;
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        ::ShowWindow(m_hWnd, SW_SHOW);
        return true;
    }
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return false;
}

void CMovieViewCtrl::SetZoom(int zoom)
{
    if (zoom == m_nZoom)
        return;
    m_nZoom = zoom;
    RebuildSurface();
}

int CMovieViewCtrl::LoadImage(const wchar_t* path)
{
    return LoadBmpFile(m_image, path);
}

void CMovieViewCtrl::SetImage(const ImageBuffer& image)
{
    FreeImageBuffer(m_image);
    m_image = image;
}

void CMovieViewCtrl::SetGridColor(COLORREF colour)
{
    if (m_hGridPen)
        ::DeleteObject(m_hGridPen);
    m_hGridPen = colour == c_crNoGrid ? nullptr : ::CreatePen(PS_SOLID, 1, colour);
    RebuildSurface();
}

// Turning tips off while tracking also ends the tracking: a capture left
// behind would swallow the user's next click elsewhere.
void CMovieViewCtrl::EnableTooltip(bool on)
{
    m_bShowTooltip = on;
    if (!on && ::GetCapture() == m_hWnd) {
        ActivateTooltip(false);
        ::ReleaseCapture();
    }
}

void CMovieViewCtrl::SetMarkerPos(int x, int y)
{
    m_ptMarker = {x, y};
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CMovieViewCtrl::OnPaint()
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    PaintContent(dc);
    ::EndPaint(m_hWnd, &paint);
}

void CMovieViewCtrl::PaintContent(HDC dc)
{
    if (!m_pSurfaceBits)
        return;
    const LONG width = m_bmiSurface.bmiHeader.biWidth;
    const LONG height = m_bmiSurface.bmiHeader.biHeight;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int ox = (client.right - width) / 2 > 0 ? (client.right - width) / 2 : 0;
    const int oy = (client.bottom - height) / 2 > 0 ? (client.bottom - height) / 2 : 0;
    HDC memory = ::CreateCompatibleDC(dc);
    {
        const CScopedSelect surface(memory, m_hSurface);
        ::BitBlt(dc, ox, oy, width, height, memory, 0, 0, SRCCOPY);
    }
    ::DeleteDC(memory);

    if (m_hGridPen) {
        const int step = c_nGridSpacing * m_nZoom;
        const CScopedSelect pen(dc, m_hGridPen);
        for (int x = 0; x < m_nViewWidth; x += step) {
            ::MoveToEx(dc, x, 0, nullptr);
            ::LineTo(dc, x, m_nViewHeight);
        }
        for (int y = 0; y < m_nViewHeight; y += step) {
            ::MoveToEx(dc, 0, y, nullptr);
            ::LineTo(dc, m_nViewWidth, y);
        }
    }

    if (m_ptMarker.x != -1) {
        const MarkerRect frame = MarkerRectFor(m_ptMarker.x, m_ptMarker.y, m_nZoom);
        const CScopedSelect brush(dc, ::GetStockObject(NULL_BRUSH));
        const CScopedSelect pen(dc, m_hMarkerPen);
        ::Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
    }
}

void CMovieViewCtrl::ActivateTooltip(bool on)
{
    TTTOOLINFOW tool = ToolRecord();
    ::SendMessageW(m_hTooltip, TTM_TRACKACTIVATE, on ? TRUE : FALSE, AsLParam(&tool));
}

// The capture tells the control when the mouse leaves it: while held, the
// first move over any other window arrives here too.
void CMovieViewCtrl::OnMouseMove()
{
    if (!m_bShowTooltip)
        return;
    POINT cursor;
    ::GetCursorPos(&cursor);
    if (::GetCapture() == m_hWnd) {
        if (::WindowFromPoint(cursor) != m_hWnd) {
            ActivateTooltip(false);
            ::ReleaseCapture();
            return;
        }
    } else {
        ::SetCapture(m_hWnd);
        ActivateTooltip(true);
    }
    ::SendMessageW(m_hTooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(cursor.x, cursor.y + c_nTipOffsetY));
}

void CMovieViewCtrl::OnTooltipGetText(NMTTDISPINFOW& info)
{
    POINT cursor;
    ::GetCursorPos(&cursor);
    ::ScreenToClient(m_hWnd, &cursor);
    const int x = cursor.x / m_nZoom;
    const int y = cursor.y / m_nZoom;
    if (m_image.width > 0 && m_image.height > 0) {
        const PixelColor colour = GetPixelColor(x, y);
        std::swprintf(info.szText, ARRAYSIZE(info.szText), L"XY=(%d, %d)\r\nRGB=(%d, %d, %d)", x, y,
                      colour.red, colour.green, colour.blue);
    } else {
        info.szText[0] = L'\0';
    }
}
