#include "AboutDialog.h"
#include "BaseWindow.h"
#include "GuiTest.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs the about box; `poke` does something to it once it is shown, then the
// script waits for it to close. Returns the dialog's result (-2: still open
// after the wait, ended by the test).
INT_PTR RunAboutBox(const std::function<void(HWND box)>& poke, DWORD waitMs = 3000)
{
    int step = 0;
    DWORD pokedAt = 0;
    CModalScript script([&] {
        HWND box = FindThreadWindow(L"#32770", L"バージョン情報");
        if (step == 0 && box) {
            poke(box);
            pokedAt = ::GetTickCount();
            step = 1;
        } else if (step == 1 && box && ::GetTickCount() - pokedAt > waitMs) {
            ::EndDialog(box, -2);
            return true;
        }
        return false;
    });
    return ::DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, AboutDlgProc, 0);
}

void PressKey(HWND box, UINT key)
{
    HWND target = ::GetFocus() ? ::GetFocus() : box;
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

} // namespace

TEST(AboutBox, ClosesOnItsButtonEnterAndEscape)
{
    EXPECT_EQ(RunAboutBox([](HWND box) { ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0); }), IDOK);
    EXPECT_EQ(RunAboutBox([](HWND box) { PressKey(box, VK_RETURN); }), IDOK);
    EXPECT_EQ(RunAboutBox([](HWND box) { PressKey(box, VK_ESCAPE); }), IDCANCEL);
    EXPECT_EQ(RunAboutBox([](HWND box) { ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); }), IDCANCEL);
}

TEST(AboutBox, StaysOpenOnAnythingElse)
{
    const std::function<void(HWND)> pokes[] = {
        [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDC_DIFF_LIST, 0); },
        [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDM_EXIT, 0); },
        [](HWND box) { PressKey(box, 'A'); },
        [](HWND box) { PressKey(box, VK_F1); },
        [](HWND box) { PressKey(box, VK_TAB); },
        [](HWND box) { ::PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)); },
    };
    for (size_t i = 0; i < std::size(pokes); ++i)
        EXPECT_EQ(RunAboutBox(pokes[i], 300), -2) << "poke " << i;
}
