// The main window run modally through the program's own object, as the
// entry runs it, driven from a timer inside its modal loop.

#include "BaseWindow.h"
#include "GuiTest.h"
#include "ImageCompare.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

// Runs the main window until `script` returns true; the script gets the
// main window's handle once it is up. Returns the dialog result.
INT_PTR RunMainWindow(const std::function<bool(HWND)>& script)
{
    CModalScript driver([&] {
        HWND main = g_ImageCompare.m_hWnd;
        return main && ::IsWindowVisible(main) && script(main);
    });
    const INT_PTR result = g_ImageCompare.DoModal(IDD_MAIN, nullptr);
    EXPECT_FALSE(driver.TimedOut());
    return result;
}

bool Checked(HMENU menu, UINT id)
{
    return ::GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED;
}

void SaveShot(HWND hwnd, const wchar_t* name)
{
    std::filesystem::create_directories(L"screenshots");
    EXPECT_TRUE(SaveWindowShot(hwnd, std::wstring(L"screenshots\\") + name)) << "screenshot " << name;
}

} // namespace

TEST(MainWindow, StartsWithDefaultsAndItsListBelowTheControls)
{
    RunMainWindow([](HWND main) {
        HMENU menu = ::GetMenu(main);
        EXPECT_EQ(menu, g_ImageCompare.m_hMenu);
        EXPECT_TRUE(Checked(menu, IDM_ZOOM_1));
        EXPECT_TRUE(Checked(menu, IDM_GRID_NONE));
        for (UINT id : {IDM_ZOOM_2, IDM_ZOOM_4, IDM_ZOOM_8, IDM_GRID_BLACK, IDM_GRID_BLUE, IDM_SHOW_IMAGES, IDM_TOOLTIP})
            EXPECT_FALSE(Checked(menu, id)) << id;

        HWND spinner = ::GetDlgItem(main, IDC_THRESHOLD_SPIN);
        EXPECT_EQ(LOWORD(::SendMessageW(spinner, UDM_GETPOS, 0, 0)), 1);
        EXPECT_EQ(::SendMessageW(spinner, UDM_GETRANGE, 0, 0), MAKELONG(32, 1));
        EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_THRESHOLD)), L"1");
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
        EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_DIFF_COUNT)), L"");
        EXPECT_NE(::SendMessageW(main, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(::SendMessageW(main, WM_GETICON, ICON_SMALL, 0), 0);

        HWND list = g_ImageCompare.m_hList;
        EXPECT_EQ(list, ::GetDlgItem(main, IDC_DIFF_LIST));
        EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
        RECT client;
        ::GetClientRect(main, &client);
        EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), client.right);
        const int columnWidth = int(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));

        // Resizing keeps the list at y = 81 and fills the rest; the column keeps its width.
        RECT window;
        ::GetWindowRect(main, &window);
        ::SetWindowPos(main, nullptr, 0, 0, window.right - window.left + 60, window.bottom - window.top + 40,
                       SWP_NOMOVE | SWP_NOZORDER);
        ::GetClientRect(main, &client);
        RECT listRect;
        ::GetWindowRect(list, &listRect);
        ::MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&listRect), 2);
        EXPECT_EQ(listRect.left, 0);
        EXPECT_EQ(listRect.top, 81);
        EXPECT_EQ(listRect.right, client.right);
        EXPECT_EQ(listRect.bottom, client.bottom);
        EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), columnWidth);

        // Lower than the controls: the list keeps no height at all.
        ::SetWindowPos(main, nullptr, 0, 0, window.right - window.left, 100, SWP_NOMOVE | SWP_NOZORDER);
        ::GetWindowRect(list, &listRect);
        EXPECT_EQ(listRect.bottom - listRect.top, 0);
        ::SetWindowPos(main, nullptr, 0, 0, window.right - window.left, window.bottom - window.top,
                       SWP_NOMOVE | SWP_NOZORDER);

        ::SendMessageW(main, WM_COMMAND, IDM_EXIT, 0);
        return true;
    });
}

TEST(MainWindow, EndsWithResultOneOnExitAndCloseOnly)
{
    EXPECT_EQ(RunMainWindow([](HWND main) {
        ::PostMessageW(main, WM_COMMAND, IDM_EXIT, 0);
        return true;
    }), 1);
    EXPECT_EQ(RunMainWindow([](HWND main) {
        ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    }), 1);

    // Enter and Escape reach the dialog as IDOK and IDCANCEL, which it ignores.
    int step = 0;
    DWORD keysAt = 0;
    EXPECT_EQ(RunMainWindow([&](HWND main) {
        if (step == 0) {
            HWND focus = ::GetDlgItem(main, IDC_DIFF_COUNT);
            ::SetFocus(focus);
            for (UINT key : {VK_RETURN, VK_ESCAPE}) {
                ::PostMessageW(focus, WM_KEYDOWN, key, 1);
                ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
            }
            ::PostMessageW(main, WM_COMMAND, IDOK, 0);
            ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
            keysAt = ::GetTickCount();
            step = 1;
            return false;
        }
        if (::GetTickCount() - keysAt < 300)
            return false;
        EXPECT_TRUE(::IsWindowVisible(main));
        ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    }), 1);
}

TEST(MainWindow, OpensTheAboutBoxFromTheHelpMenu)
{
    enum { Start, AboutAsked, AboutClosing } step = Start;
    bool bSawAbout = false;
    RunMainWindow([&](HWND main) {
        HWND about = FindThreadWindow(L"#32770", L"バージョン情報");
        switch (step) {
        case Start:
            SaveShot(main, L"main-window.bmp");
            ::PostMessageW(main, WM_COMMAND, IDM_ABOUT, 0);
            step = AboutAsked;
            return false;
        case AboutAsked:
            if (!about)
                return false;
            bSawAbout = true;
            EXPECT_EQ(::GetWindow(about, GW_OWNER), main);
            SaveShot(about, L"about-box.bmp");
            ::PostMessageW(about, WM_COMMAND, IDOK, 0);
            step = AboutClosing;
            return false;
        case AboutClosing:
            if (about)
                return false;
            ::PostMessageW(main, WM_COMMAND, IDM_EXIT, 0);
            return true;
        }
        return true;
    });
    EXPECT_TRUE(bSawAbout);
}
