// The window and dialog base classes, the message helper and the program's
// resources, in real windows of this thread.

#include "BaseDialog.h"
#include "BaseWindow.h"
#include "GuiTest.h"
#include "ResourceMessage.h"
#include "ResultText.h"
#include "ScopedSelect.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
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
    explicit CProbeWindow(std::vector<UINT>& log) : m_log(log) { RegisterWndClassOnce(*this); }

    const wchar_t* GetWndClassName() override { return L"TobrelProbeWindow"; }

    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        m_log.push_back(msg);
        return CBaseWindow::WindowProc(hwnd, msg, wParam, lParam);
    }

private:
    std::vector<UINT>& m_log;
};

class CProbeDialog : public CBaseDialog
{
public:
    INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (m_seen.empty())
            m_bBoundAtFirst = m_hWnd == hwnd && lParam == AsLParam(this);
        m_seen.push_back(msg);
        if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(hwnd, 42);
            return TRUE;
        }
        return CBaseDialog::DialogProc(hwnd, msg, wParam, lParam);
    }

    std::vector<UINT> m_seen;
    bool m_bBoundAtFirst = false;
};

// The text of the message box that `show` opens, read from the box itself.
std::wstring MessageBoxText(const std::function<void()>& show)
{
    std::wstring text;
    CModalScript script([&] {
        HWND box = FindThreadWindow(L"#32770");
        if (!box)
            return false;
        text = WindowText(::GetDlgItem(box, 0xFFFF));
        ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        return true;
    });
    show();
    EXPECT_FALSE(script.TimedOut());
    return text;
}

} // namespace

TEST(BaseWindow, IsBoundOnlyAfterCreationReturnsAndUnboundOnFailure)
{
    std::vector<UINT> log;
    CProbeWindow window(log);
    ASSERT_TRUE(window.Create(WS_POPUP | WS_VISIBLE, 10, 10, 120, 80, nullptr));
    EXPECT_EQ(::GetWindowLongPtrW(window.m_hWnd, GWLP_USERDATA), AsLParam(&window));
    // WM_NCCREATE, WM_CREATE and the first WM_SIZE went to DefWindowProcW.
    EXPECT_FALSE(Contains(log, WM_NCCREATE));
    EXPECT_FALSE(Contains(log, WM_CREATE));
    ::SetWindowPos(window.m_hWnd, nullptr, 0, 0, 200, 90, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(Contains(log, WM_SIZE));
    log.clear();
    ::SendMessageW(window.m_hWnd, WM_USER + 7, 0, 0);
    EXPECT_EQ(log, std::vector<UINT>{WM_USER + 7});

    // A child window needs a parent; an unbound window of the class gets the
    // default handling.
    CProbeWindow orphan(log);
    EXPECT_FALSE(orphan.Create(WS_CHILD, 0, 0, 10, 10, nullptr));
    EXPECT_EQ(orphan.m_hWnd, nullptr);
    HWND unbound = ::CreateWindowExW(0, L"TobrelProbeWindow", L"", WS_POPUP, 0, 0, 40, 40, nullptr, nullptr,
                                     g_hInstance, nullptr);
    log.clear();
    ::SetWindowTextW(unbound, L"既定の処理");
    EXPECT_EQ(WindowText(unbound), L"既定の処理");
    EXPECT_TRUE(log.empty());
    ::DestroyWindow(unbound);
}

TEST(BaseWindow, DestroysItsWindowWithTheObject)
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
}

TEST(BaseWindow, RegistersItsClassOncePerProcess)
{
    std::vector<UINT> log;
    CProbeWindow first(log);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(::GetClassInfoExW(g_hInstance, L"TobrelProbeWindow", &wc));
    EXPECT_EQ(wc.lpfnWndProc, BaseWndProc);
    EXPECT_EQ(wc.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    EXPECT_EQ(wc.hCursor, ::LoadCursorW(nullptr, IDC_ARROW));  // else the pointer keeps whatever it last was

    // Taken away behind the class's back, it stays gone: a second object
    // does not register it again.
    ASSERT_TRUE(::UnregisterClassW(L"TobrelProbeWindow", g_hInstance));
    CProbeWindow second(log);
    EXPECT_FALSE(second.Create(WS_POPUP, 0, 0, 10, 10, nullptr));
    RegisterWndClass(second);
    EXPECT_TRUE(second.Create(WS_POPUP, 0, 0, 10, 10, nullptr));
}

TEST(BaseDialog, BindsModalDialogsAtInitDialogAndModelessOnesAfterCreation)
{
    CProbeDialog modeless;
    ASSERT_TRUE(modeless.Create(IDD_IMAGE, nullptr));
    EXPECT_EQ(::GetWindowLongPtrW(modeless.m_hWnd, GWLP_USERDATA), AsLParam(&modeless));
    EXPECT_FALSE(Contains(modeless.m_seen, WM_INITDIALOG));
    ::SendMessageW(modeless.m_hWnd, WM_COMMAND, 4242, 0);
    EXPECT_TRUE(Contains(modeless.m_seen, WM_COMMAND));
    ::DestroyWindow(modeless.m_hWnd);

    CProbeDialog modal;
    CModalScript script([&] {
        if (!modal.m_hWnd)
            return false;
        ::PostMessageW(modal.m_hWnd, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    EXPECT_EQ(modal.DoModal(IDD_IMAGE, nullptr), 42);
    ASSERT_FALSE(modal.m_seen.empty());
    EXPECT_EQ(modal.m_seen[0], UINT(WM_INITDIALOG));
    EXPECT_TRUE(modal.m_bBoundAtFirst);

    // Unbound dialogs get FALSE; a template that does not exist fails.
    HWND hwnd = ::CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_IMAGE), nullptr, ModelessDlgProc, 0);
    EXPECT_EQ(ModelessDlgProc(hwnd, WM_COMMAND, IDOK, 0), FALSE);
    EXPECT_EQ(ModalDlgProc(hwnd, WM_SIZE, 0, 0), FALSE);
    ::DestroyWindow(hwnd);
    CProbeDialog missing;
    EXPECT_EQ(missing.DoModal(9999, nullptr), -1);
    EXPECT_FALSE(missing.Create(9999, nullptr));
    EXPECT_TRUE(missing.m_seen.empty());
}

TEST(ShowResourceMessage, ShowsAtMost127CharactersOwnedByItsWindow)
{
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                   g_hInstance, nullptr);
    HWND boxOwner = nullptr;
    CModalScript script([&] {
        HWND box = FindThreadWindow(L"#32770");
        if (!box)
            return false;
        boxOwner = ::GetWindow(box, GW_OWNER);
        EXPECT_EQ(WindowText(::GetDlgItem(box, 0xFFFF)).size(), 127u);
        ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        return true;
    });
    EXPECT_EQ(ShowResourceMessage(60000, owner), IDOK);  // 200 characters in the test's string table
    EXPECT_EQ(boxOwner, owner);
    ::DestroyWindow(owner);
}

// The comparer prints the same texts that the program's message boxes show.
TEST(Resources, StringTableHoldsTheComparersTexts)
{
    for (const UINT id : {IDS_SIZE_MISMATCH, IDS_TOO_MANY_FILES, IDS_UNSUPPORTED_FORMAT, IDS_NOT_BITMAP,
                          IDS_DROP_TWO_FILES, IDS_CANNOT_READ, IDS_IMAGE_TOO_LARGE, IDS_OUT_OF_MEMORY}) {
        SCOPED_TRACE(id);
        ASSERT_NE(ResultText(int(id)), nullptr);
        wchar_t expected[128] = {};
        ::MultiByteToWideChar(CP_UTF8, 0, ResultText(int(id)), -1, expected, ARRAYSIZE(expected));
        EXPECT_EQ(MessageBoxText([id] { ShowResourceMessage(id, nullptr); }), expected);
    }
}

// The zoom and grid commands are looked up by subtraction from the first of
// their range, so each range must be contiguous and in the menu's order.
TEST(Resources, MenuRadioRangesAreContiguousAndIdsDistinct)
{
    HMENU menu = ::LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_MAINMENU));
    ASSERT_NE(menu, nullptr);
    const std::vector<std::vector<UINT>> ranges = {
        {IDM_ZOOM_1, IDM_ZOOM_2, IDM_ZOOM_4, IDM_ZOOM_8},
        {IDM_GRID_NONE, IDM_GRID_BLACK, IDM_GRID_WHITE, IDM_GRID_RED, IDM_GRID_GREEN, IDM_GRID_BLUE},
    };
    for (const auto& range : ranges) {
        for (size_t i = 0; i < range.size(); ++i) {
            EXPECT_EQ(range[i], range[0] + i);
            EXPECT_NE(::GetMenuState(menu, range[i], MF_BYCOMMAND), UINT(-1)) << range[i];
        }
    }
    for (UINT id : {IDM_OPEN, IDM_EXIT, IDM_SHOW_IMAGES, IDM_TOOLTIP, IDM_ABOUT})
        EXPECT_NE(::GetMenuState(menu, id, MF_BYCOMMAND), UINT(-1)) << id;
    ::DestroyMenu(menu);

    // Everything that reaches the main window as WM_COMMAND, and the dialogs.
    const std::vector<int> commands = {IDM_ABOUT, IDM_EXIT, IDM_OPEN, IDM_SHOW_IMAGES, IDM_ZOOM_1, IDM_ZOOM_2,
                                       IDM_ZOOM_4, IDM_ZOOM_8, IDM_TOOLTIP, IDM_GRID_NONE, IDM_GRID_BLACK,
                                       IDM_GRID_WHITE, IDM_GRID_RED, IDM_GRID_GREEN, IDM_GRID_BLUE, IDC_DIFF_LIST,
                                       IDC_DIFF_COUNT, IDC_THRESHOLD, IDC_THRESHOLD_SPIN, IDC_RECOMPARE, IDOK,
                                       IDCANCEL};
    EXPECT_EQ(std::set<int>(commands.begin(), commands.end()).size(), commands.size());
    const std::vector<int> dialogs = {IDD_ABOUTBOX, IDD_IMAGE, IDD_MAIN};
    EXPECT_EQ(std::set<int>(dialogs.begin(), dialogs.end()).size(), dialogs.size());
}

TEST(Resources, ManifestAsksForCommonControls6)
{
    HRSRC found = ::FindResourceW(g_hInstance, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(g_hInstance, found)));
    const std::string manifest(data, ::SizeofResource(g_hInstance, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
}

namespace {

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

} // namespace

// With the fonts the system maps the dialog font to, every label's text fits
// the rectangle the template gives it: none loses its last characters.
TEST(Resources, EveryLabelFitsItsBox)
{
    for (const UINT id : {IDD_MAIN, IDD_ABOUTBOX}) {
        HWND dialog = ::CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(id), nullptr, PlainDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        HDC dc = ::GetDC(dialog);
        const CScopedSelect font(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(dialog, WM_GETFONT, 0, 0)));
        for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const std::wstring text = WindowText(child);
            const std::wstring kind = ClassName(child);
            if (text.empty() || (kind != L"Static" && kind != L"Button"))
                continue;
            RECT box, needed = {};
            ::GetClientRect(child, &box);
            ::DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            EXPECT_LE(needed.right, box.right - (kind == L"Button" ? 4 : 0)) << testing::PrintToString(text);
        }
        ::ReleaseDC(dialog, dc);
        ::DestroyWindow(dialog);
    }
}
