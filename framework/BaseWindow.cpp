#include "BaseWindow.h"

HINSTANCE g_hInstance = nullptr;

CBaseWindow::~CBaseWindow()
{
    // Windows destroyed with their parent earlier make this fail harmlessly.
    ::DestroyWindow(m_hWnd);
}

bool CBaseWindow::Create(DWORD style, int x, int y, int width, int height, HWND parent)
{
    m_hWnd = ::CreateWindowExW(0, GetWndClassName(), nullptr, style, x, y, width, height, parent,
                               nullptr, g_hInstance, nullptr);
    if (!m_hWnd)
        return false;
    ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, AsLParam(this));
    return true;
}

LRESULT CBaseWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RegisterWndClass(CBaseWindow& window)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = BaseWndProc;
    wc.hInstance = g_hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = window.GetWndClassName();
    ::RegisterClassExW(&wc);
}

void InitWindowing(HINSTANCE instance)
{
    g_hInstance = instance;
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&controls);
}

LRESULT CALLBACK BaseWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (auto* window = AsPointer<CBaseWindow>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
        return window->WindowProc(hwnd, msg, wParam, lParam);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}
