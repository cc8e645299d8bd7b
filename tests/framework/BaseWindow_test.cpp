#include "BaseWindow.h"
#include "GuiTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

bool Contains(const std::vector<UINT>& log, UINT msg)
{
    return std::find(log.begin(), log.end(), msg) != log.end();
}

// Writes down every message its WindowProc receives.
class CProbeWindow : public CBaseWindow
{
public:
    explicit CProbeWindow(std::vector<UINT>& log) : m_log(log)
    {
        if (!s_bRegistered) {
            RegisterWndClass(*this);
            s_bRegistered = true;
        }
    }

    const wchar_t* GetWndClassName() override { return L"TobrelProbeWindow"; }

    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        m_log.push_back(msg);
        return CBaseWindow::WindowProc(hwnd, msg, wParam, lParam);
    }

    static bool s_bRegistered;

private:
    std::vector<UINT>& m_log;
};

bool CProbeWindow::s_bRegistered = false;

} // namespace

TEST(BaseWindow, IsBoundOnlyAfterCreationReturns)
{
    std::vector<UINT> log;
    CProbeWindow window(log);
    ASSERT_TRUE(window.Create(WS_POPUP | WS_VISIBLE, 10, 10, 120, 80, nullptr));
    ASSERT_NE(window.m_hWnd, nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(window.m_hWnd, GWLP_USERDATA), AsLParam(&window));
    // WM_NCCREATE, WM_CREATE and the first WM_SIZE went to DefWindowProcW.
    EXPECT_FALSE(Contains(log, WM_NCCREATE));
    EXPECT_FALSE(Contains(log, WM_CREATE));
    EXPECT_FALSE(Contains(log, WM_SIZE));

    ::SetWindowPos(window.m_hWnd, nullptr, 0, 0, 200, 90, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(Contains(log, WM_SIZE));
    log.clear();
    ::SendMessageW(window.m_hWnd, WM_USER + 7, 0, 0);
    EXPECT_EQ(log, std::vector<UINT>{WM_USER + 7});
}

TEST(BaseWindow, DestroysItsWindowWithDefaultHandlingOfTheLastMessages)
{
    std::vector<UINT> log;
    auto* window = new CProbeWindow(log);
    ASSERT_TRUE(window->Create(WS_POPUP, 0, 0, 50, 50, nullptr));
    const HWND hwnd = window->m_hWnd;
    log.clear();
    delete window;
    EXPECT_FALSE(::IsWindow(hwnd));
    // By then the object is only a CBaseWindow: its override sees nothing.
    EXPECT_FALSE(Contains(log, WM_DESTROY));
    EXPECT_FALSE(Contains(log, WM_NCDESTROY));
}

TEST(BaseWindow, FailedCreationLeavesTheObjectUnbound)
{
    std::vector<UINT> log;
    CProbeWindow window(log);
    // A child window needs a parent.
    EXPECT_FALSE(window.Create(WS_CHILD, 0, 0, 10, 10, nullptr));
    EXPECT_EQ(window.m_hWnd, nullptr);
}

TEST(BaseWindow, UnboundWindowsGetDefaultHandling)
{
    std::vector<UINT> log;
    CProbeWindow owner(log);  // makes sure the class is registered
    HWND hwnd = ::CreateWindowExW(0, L"TobrelProbeWindow", L"", WS_POPUP, 0, 0, 40, 40, nullptr,
                                  nullptr, g_hInstance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    ::SetWindowTextW(hwnd, L"既定の処理");
    EXPECT_EQ(WindowText(hwnd), L"既定の処理");
    EXPECT_TRUE(log.empty());
    ::DestroyWindow(hwnd);
}

TEST(BaseWindow, RegistersItsClassOncePerProcess)
{
    std::vector<UINT> log;
    CProbeWindow first(log);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(::GetClassInfoExW(g_hInstance, L"TobrelProbeWindow", &wc));
    EXPECT_EQ(wc.lpfnWndProc, BaseWndProc);
    EXPECT_EQ(wc.style, UINT(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    EXPECT_EQ(wc.hCursor, ::LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(wc.cbWndExtra, 0);

    // Taken away behind the flag's back, the class stays gone: a second
    // object does not register it again.
    ASSERT_TRUE(::UnregisterClassW(L"TobrelProbeWindow", g_hInstance));
    CProbeWindow second(log);
    EXPECT_FALSE(::GetClassInfoExW(g_hInstance, L"TobrelProbeWindow", &wc));
    EXPECT_FALSE(second.Create(WS_POPUP, 0, 0, 10, 10, nullptr));

    RegisterWndClass(second);
    EXPECT_TRUE(second.Create(WS_POPUP, 0, 0, 10, 10, nullptr));
}
