// tobrel.exe as a user meets it, driven from this separate process: the open
// dialog, the count and the rows, selection and both status bars, the
// spinner and re-compare, zoom and grid, tooltips, hiding and showing, load
// errors, the about box and the exit code. Every expected value comes from
// the test pictures.

#include "PicturePair.h"
#include "TobrelProcess.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {

class TobrelE2e : public testing::Test
{
protected:
    void SetUp() override
    {
        BmpSpec spec;
        spec.width = 6;
        spec.height = 4;
        spec.pixel = Base;
        m_dir.WriteBmp("before.bmp", spec);
        spec.pixel = Changed;
        m_dir.WriteBmp("after.bmp", spec);
        spec.bitCount = 8;
        m_dir.WriteBmp("palette.bmp", spec);
    }

    // File > Open, then the names typed into the real dialog and Open pressed.
    void Open(CTobrelProcess& tobrel, const std::vector<std::wstring>& answers)
    {
        ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_OPEN, 0);
        for (const std::wstring& names : answers)
            ASSERT_TRUE(tobrel.AnswerOpenDialog(names)) << "no open dialog for " << testing::PrintToString(names);
    }

    std::wstring Count(CTobrelProcess& tobrel)
    {
        return WindowTextOf(::GetDlgItem(tobrel.Main(), IDC_DIFF_COUNT));
    }

    // The pixel view control inside an image window.
    HWND ControlOf(HWND imageWindow)
    {
        HWND view = ::FindWindowExW(imageWindow, nullptr, L"ClientView", nullptr);
        return ::FindWindowExW(view, nullptr, L"MovieViewCtrl", nullptr);
    }

    // Moves the mouse as a hardware move does, so whichever process owns the
    // window under it gets WM_MOUSEMOVE; returns where the cursor went.
    POINT MoveMouse(int x, int y)
    {
        const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
        for (const POINT step : {POINT{x - 3, y - 3}, POINT{x, y}}) {
            INPUT input = {};
            input.type = INPUT_MOUSE;
            input.mi.dx = (step.x * 65535 + (width - 1) / 2) / (width - 1);
            input.mi.dy = (step.y * 65535 + (height - 1) / 2) / (height - 1);
            input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
            ::SendInput(1, &input, sizeof input);
        }
        POINT cursor = {};
        WaitFor([&] {
            ::GetCursorPos(&cursor);
            return cursor.x == x && cursor.y == y;
        }, 2000);
        return cursor;
    }

    SIZE SizeOf(HWND hwnd)
    {
        RECT rect;
        ::GetWindowRect(hwnd, &rect);
        return {rect.right - rect.left, rect.bottom - rect.top};
    }

    TempDir m_dir;
};

} // namespace

TEST_F(TobrelE2e, ComparesAPairTheWayAUserDoes)
{
    CTobrelProcess tobrel(m_dir.Path().wstring());
    ASSERT_TRUE(tobrel.Started());
    EXPECT_TRUE(tobrel.ImageWindows().empty());
    EXPECT_EQ(WindowTextOf(::GetDlgItem(tobrel.Main(), IDC_THRESHOLD)), L"1");

    Open(tobrel, {L"\"before.bmp\" \"after.bmp\""});
    ASSERT_TRUE(WaitFor([&] { return Count(tobrel) == L"3"; })) << testing::PrintToString(Count(tobrel));
    EXPECT_EQ(tobrel.ListRow(0), L"x=4, y=0");
    EXPECT_EQ(tobrel.ListRow(1), L"x=1, y=2");
    EXPECT_EQ(tobrel.ListRow(2), L"x=5, y=3");
    std::vector<HWND> images;
    ASSERT_TRUE(WaitFor([&] { return (images = tobrel.ImageWindows()).size() == 2; }));
    EXPECT_EQ(WindowTextOf(images[0]), (m_dir.Path() / "before.bmp").wstring());
    EXPECT_EQ(WindowTextOf(images[1]), (m_dir.Path() / "after.bmp").wstring());

    tobrel.SelectRow(1);
    EXPECT_EQ(tobrel.StatusText(images[0]), ColourText(1, 2, Base(1, 2)));
    EXPECT_EQ(tobrel.StatusText(images[1]), ColourText(1, 2, Changed(1, 2)));

    // Tolerance 12, then compare again: the blue +3 drops out.
    HWND spinner = ::GetDlgItem(tobrel.Main(), IDC_THRESHOLD_SPIN);
    ::SendMessageW(spinner, UDM_SETPOS, 0, 11);
    RECT spin;
    ::GetClientRect(spinner, &spin);
    ::SendMessageW(spinner, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(spin.right / 2, spin.bottom / 4));
    ::SendMessageW(spinner, WM_LBUTTONUP, 0, MAKELPARAM(spin.right / 2, spin.bottom / 4));
    EXPECT_EQ(WindowTextOf(::GetDlgItem(tobrel.Main(), IDC_THRESHOLD)), L"12");
    HWND button = ::GetDlgItem(tobrel.Main(), IDC_RECOMPARE);
    EXPECT_TRUE(::IsWindowEnabled(button));
    ::SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return Count(tobrel) == L"2"; }));
    EXPECT_FALSE(::IsWindowEnabled(button));
    EXPECT_EQ(tobrel.StatusText(images[0]), L"");

    // The first image window moved clear of the main window, as a user
    // would move it, to look at it and hover over it.
    ::SetWindowPos(tobrel.Main(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT main;
    ::GetWindowRect(tobrel.Main(), &main);
    ::SetWindowPos(images[0], HWND_TOP, main.right + 10, 0, 0, 0, SWP_NOSIZE);

    // Zoom 8 and a white grid in both windows.
    ::SendMessageW(tobrel.Main(), WM_COMMAND, IDM_ZOOM_8, 0);
    ::SendMessageW(tobrel.Main(), WM_COMMAND, IDM_GRID_WHITE, 0);
    for (HWND image : images) {
        EXPECT_EQ(SizeOf(ControlOf(image)).cx, 48);
        EXPECT_EQ(SizeOf(ControlOf(image)).cy, 32);
    }
    ::UpdateWindow(images[0]);
    RECT control;
    ::GetWindowRect(ControlOf(images[0]), &control);
    HDC screen = ::GetDC(nullptr);
    const bool painted = WaitFor([&] {
        return ::GetPixel(screen, control.left, control.top + 5) == RGB(255, 255, 255) &&
               ::GetPixel(screen, control.left + 12, control.top + 5) == RGB(Base(1, 0).r, Base(1, 0).g, Base(1, 0).b);
    });
    ::ReleaseDC(nullptr, screen);
    EXPECT_TRUE(painted) << "grid line or pixel not on screen";

    // Tooltips follow the real cursor.
    ::SendMessageW(tobrel.Main(), WM_COMMAND, IDM_TOOLTIP, 0);
    const POINT cursor = MoveMouse(control.left + 20, control.top + 10);
    // The tip shows where it stood last, then moves 20 pixels below the cursor.
    const bool tipBelowCursor = WaitFor([&] {
        for (HWND tip : tobrel.Windows(L"tooltips_class32")) {
            POINT origin = {0, 0};
            ::ClientToScreen(tip, &origin);
            if (origin.x == cursor.x && origin.y == cursor.y + 20)
                return true;
        }
        return false;
    });
    EXPECT_TRUE(tipBelowCursor);
    MoveMouse(5, 1000);
    EXPECT_TRUE(WaitFor([&] { return tobrel.Windows(L"tooltips_class32").empty(); }));

    // Closing an image window hides both; the menu shows them again.
    ::PostMessageW(images[1], WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitFor([&] { return tobrel.ImageWindows().empty(); }));
    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_SHOW_IMAGES, 0);
    EXPECT_TRUE(WaitFor([&] { return tobrel.ImageWindows().size() == 2; }));

    // A rejected file: its message, an empty count.
    Open(tobrel, {L"before.bmp", L"palette.bmp"});
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = tobrel.MessageBox()) != nullptr; }));
    EXPECT_EQ(WindowTextOf(::GetDlgItem(box, 0xFFFF)), L"24 bit color 非圧縮フォーマットのみサポートしています");
    ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return tobrel.MessageBox() == nullptr; }));
    EXPECT_EQ(Count(tobrel), L"");
    EXPECT_EQ(tobrel.ListRow(1), L"x=1, y=2");  // the previous rows stay

    // The about box, then File > Exit: exit code 1.
    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_ABOUT, 0);
    std::vector<HWND> about;
    ASSERT_TRUE(WaitFor([&] { return !(about = tobrel.Windows(L"#32770", L"バージョン情報")).empty(); }));
    ::PostMessageW(about[0], WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return tobrel.Windows(L"#32770", L"バージョン情報").empty(); }));
    ::PostMessageW(tobrel.Main(), WM_COMMAND, IDM_EXIT, 0);
    EXPECT_EQ(tobrel.WaitForExit(10000), 1);
}

TEST_F(TobrelE2e, EndsWithExitCodeOneFromTheCloseBox)
{
    CTobrelProcess tobrel(m_dir.Path().wstring());
    ASSERT_TRUE(tobrel.Started());
    ::PostMessageW(tobrel.Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(tobrel.WaitForExit(10000), 1);
}
