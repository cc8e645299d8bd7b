// The main window doing its job, run modally through the program's own
// object as the entry runs it, and driven step by step from a timer inside
// its modal loop: pairs dropped on it (drop handles built in this process)
// or opened through the real open dialog, the outcomes of a load, the list
// and its selection, the spinner and re-compare, the View menu, the about box.

#include "AboutDialog.h"
#include "BmpBuilder.h"
#include "ClientView.h"
#include "DropFiles.h"
#include "GuiTest.h"
#include "ImageCompare.h"
#include "ImageDlg.h"
#include "MovieViewCtrl.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <dlgs.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Step = std::function<bool(HWND main)>;

// Runs the steps in order, one or more timer ticks each; a tick comes only
// when the main window's queue is empty, so whatever a step posted has been
// handled (or is waiting in a message box) by the next one. Returns the
// main window's result.
INT_PTR RunSteps(std::vector<Step> steps, bool exitAtEnd = true)
{
    size_t next = 0;
    CModalScript driver([&] {
        HWND main = g_ImageCompare.m_hWnd;
        if (!main || !::IsWindowVisible(main))
            return false;
        if (next < steps.size() && steps[next](main))
            ++next;
        if (next < steps.size())
            return false;
        if (exitAtEnd)
            ::PostMessageW(main, WM_COMMAND, IDM_EXIT, 0);
        return true;
    }, 20000);
    const INT_PTR result = g_ImageCompare.DoModal(IDD_MAIN, nullptr);
    EXPECT_FALSE(driver.TimedOut()) << "stopped at step " << next << " of " << steps.size();
    return result;
}

CImageDlg& First() { return g_ImageCompare.FirstImageDlg(); }
CImageDlg& Second() { return g_ImageCompare.SecondImageDlg(); }
CMovieViewCtrl& Control(CImageDlg& dialog) { return dialog.m_pClientView->ViewCtrl(); }

// A dialog of this thread other than the known ones: a message box or the
// about box.
HWND FindDialog(HWND main, const wchar_t* caption = nullptr)
{
    struct Search { HWND main; const wchar_t* caption; HWND found; } search{main, caption, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND hwnd, LPARAM lParam) {
        auto* s = AsPointer<Search>(lParam);
        if (::IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770" && ::GetWindow(hwnd, GW_OWNER) == s->main &&
            hwnd != First().m_hWnd && hwnd != Second().m_hWnd && (!s->caption || WindowText(hwnd) == s->caption) &&
            (s->caption || ::GetDlgItem(hwnd, 0xFFFF))) {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }, AsLParam(&search));
    return search.found;
}

Step Drop(std::vector<std::filesystem::path> files)
{
    return [files](HWND main) {
        std::vector<std::wstring> paths;
        for (const auto& file : files)
            paths.push_back(file.wstring());
        ::PostMessageW(main, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDropHandle(paths)), 0);
        return true;
    };
}

Step Post(UINT msg, WPARAM wParam, LPARAM lParam = 0)
{
    return [=](HWND main) {
        ::PostMessageW(main, msg, wParam, lParam);
        return true;
    };
}

// Waits for the message box the last step caused, notes its text, closes it.
Step CloseMessage(std::vector<std::wstring>& texts)
{
    return [&texts](HWND main) {
        HWND box = FindDialog(main);
        if (!box)
            return false;
        texts.push_back(WindowText(::GetDlgItem(box, 0xFFFF)));
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
    };
}

// Checks, once everything posted has been handled.
Step Check(std::function<void(HWND main)> check)
{
    return [check](HWND main) {
        if (HWND box = FindDialog(main)) {
            ADD_FAILURE() << "an unexpected message box: " << testing::PrintToString(WindowText(::GetDlgItem(box, 0xFFFF)));
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            return false;
        }
        check(main);
        return true;
    };
}

// Types `names` into the open dialog's name box and presses Open, or presses
// Cancel when `names` is empty.
Step Answer(const std::wstring& names)
{
    return [names](HWND) {
        HWND box = nullptr;
        ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND hwnd, LPARAM lParam) -> BOOL {
            HWND name = ::GetDlgItem(hwnd, cmb13) ? ::GetDlgItem(hwnd, cmb13) : ::GetDlgItem(hwnd, edt1);
            if (::IsWindowVisible(hwnd) && name)
                *AsPointer<HWND>(lParam) = name;
            return !name;
        }, AsLParam(&box));
        if (!box)
            return false;
        HWND dialog = ::GetParent(box);
        ::SetWindowTextW(box, names.c_str());
        ::PostMessageW(dialog, WM_COMMAND, names.empty() ? IDCANCEL : IDOK, 0);
        return true;
    };
}

std::wstring Text(HWND main, int id)
{
    return WindowText(::GetDlgItem(main, id));
}

std::wstring StatusText(CImageDlg& dialog)
{
    wchar_t text[128] = {};
    ::SendMessageW(dialog.m_hStatusBar, SB_GETTEXTW, 0, AsLParam(text));
    return text;
}

std::wstring RowText(int row)
{
    wchar_t text[64] = {};
    LVITEMW item = {};
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    ::SendMessageW(g_ImageCompare.GetList(), LVM_GETITEMTEXTW, row, AsLParam(&item));
    return text;
}

int RowCount()
{
    return int(::SendMessageW(g_ImageCompare.GetList(), LVM_GETITEMCOUNT, 0, 0));
}

void SelectRow(int row)
{
    LVITEMW item = {};
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(g_ImageCompare.GetList(), LVM_SETITEMSTATE, row, AsLParam(&item));
}

bool Checked(UINT id)
{
    return ::GetMenuState(g_ImageCompare.GetMenuHandle(), id, MF_BYCOMMAND) & MF_CHECKED;
}

SIZE ControlSize(CImageDlg& dialog)
{
    const RECT rect = RectIn(Control(dialog).m_hWnd, nullptr);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

// The colour the control paints at (x, y) of its surface.
uint32_t PaintedAt(CImageDlg& dialog, int x, int y)
{
    return CapturePaint([&](HDC dc) { Control(dialog).PaintContent(dc); }, x + 1, y + 1)[size_t(y) * (x + 1) + x];
}

// Clicks the spinner's upper (up) or lower (down) half.
void ClickSpinner(HWND main, bool up)
{
    HWND spinner = ::GetDlgItem(main, IDC_THRESHOLD_SPIN);
    RECT rect;
    ::GetClientRect(spinner, &rect);
    const LPARAM at = MAKELPARAM(rect.right / 2, up ? rect.bottom / 4 : rect.bottom * 3 / 4);
    ::SendMessageW(spinner, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(spinner, WM_LBUTTONUP, 0, at);
}

class MainWindow : public testing::Test
{
protected:
    std::filesystem::path Write(const std::string& name, int width, int height, PixelFn pixel = PairBase,
                                uint16_t bits = 24)
    {
        BmpSpec spec = Picture(width, height, std::move(pixel));
        spec.bitCount = bits;
        return m_dir.WriteBmp(name, spec);
    }

    TempDir m_dir;
    std::vector<std::wstring> m_messages;
};

} // namespace

TEST(SplitSelection, ReadsEveryShapeOfTheDialogsResult)
{
    struct Case { const wchar_t* name; std::wstring buffer; int expected; std::wstring first, second; };
    using namespace std::string_literals;
    const Case cases[] = {
        {L"one full path", L"C:\\pics\\a.bmp\0\0"s, 1, L"C:\\pics\\a.bmp", L""},
        {L"two names", L"C:\\pics\0a.bmp\0b.bmp\0\0"s, 2, L"C:\\pics\\a.bmp", L"C:\\pics\\b.bmp"},
        {L"three names", L"C:\\pics\0a.bmp\0b.bmp\0c.bmp\0\0"s, 0, L"C:\\pics\\a.bmp", L"C:\\pics\\b.bmp"},
        {L"drive root", L"C:\\\0a.bmp\0b.bmp\0\0"s, 2, L"C:\\\\a.bmp", L"C:\\\\b.bmp"},
        {L"folder and one name", L"C:\\pics\0a.bmp\0\0"s, 1, L"C:\\pics\\a.bmp", L"C:\\pics\\"},
        // The walk examines positions 0 to 521 of a 526-character buffer.
        {L"verdict at the last place looked at", std::wstring(521, L'x') + L"\0\0"s, 1, std::wstring(521, L'x'), L""},
        {L"no verdict within the buffer", std::wstring(522, L'x') + L"\0\0"s, 0, std::wstring(522, L'x'), L""},
        {L"a name to the buffer's end", L"abc\0"s + std::wstring(522, L'x'), 0, L"abc\\" + std::wstring(522, L'x'), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<wchar_t> first(527, L'\0'), second(261, L'\0');
        std::copy(c.buffer.begin(), c.buffer.end(), first.begin());
        EXPECT_EQ(SplitSelection(second.data(), second.size(), first.data(), 526), c.expected);
        EXPECT_EQ(std::wstring(first.data()), c.first);
        EXPECT_EQ(std::wstring(second.data()), c.second);
    }
}

TEST_F(MainWindow, StartsWithDefaultsAndKeepsItsListBelowTheControls)
{
    RunSteps({Check([](HWND main) {
        EXPECT_TRUE(Checked(IDM_ZOOM_1));
        EXPECT_TRUE(Checked(IDM_GRID_NONE));
        for (UINT id : {IDM_ZOOM_2, IDM_ZOOM_8, IDM_GRID_BLACK, IDM_GRID_BLUE, IDM_SHOW_IMAGES, IDM_TOOLTIP})
            EXPECT_FALSE(Checked(id)) << id;
        EXPECT_EQ(::SendDlgItemMessageW(main, IDC_THRESHOLD_SPIN, UDM_GETRANGE, 0, 0), MAKELONG(32, 1));
        EXPECT_EQ(Text(main, IDC_THRESHOLD), L"1");
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
        EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"");
        EXPECT_TRUE(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

        // Both image windows hidden, owned, the second 50 pixels right of and below the first.
        EXPECT_FALSE(::IsWindowVisible(First().m_hWnd));
        EXPECT_EQ(::GetWindow(Second().m_hWnd, GW_OWNER), main);
        const RECT a = RectIn(First().m_hWnd, nullptr), b = RectIn(Second().m_hWnd, nullptr);
        EXPECT_EQ(b.left - a.left, 50);
        EXPECT_EQ(b.top - a.top, 50);

        // Resizing keeps the list at y = 81 filling the rest, never with a negative height.
        RECT window;
        ::GetWindowRect(main, &window);
        ::SetWindowPos(main, nullptr, 0, 0, window.right - window.left + 60, window.bottom - window.top + 40,
                       SWP_NOMOVE | SWP_NOZORDER);
        RECT client;
        ::GetClientRect(main, &client);
        const RECT list = RectIn(g_ImageCompare.GetList(), main);
        EXPECT_EQ(list.top, 81);
        EXPECT_EQ(list.right, client.right);
        EXPECT_EQ(list.bottom, client.bottom);
        ::SetWindowPos(main, nullptr, 0, 0, window.right - window.left, 100, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(RectIn(g_ImageCompare.GetList(), main).bottom, RectIn(g_ImageCompare.GetList(), main).top);
    })});
}

TEST_F(MainWindow, EndsWithResultOneOnExitAndOnCloseOnly)
{
    EXPECT_EQ(RunSteps({Post(WM_COMMAND, IDM_EXIT)}, false), 1);
    EXPECT_EQ(RunSteps({Post(WM_SYSCOMMAND, SC_CLOSE)}, false), 1);

    // Enter and Escape reach the dialog as IDOK and IDCANCEL, which it ignores.
    DWORD keysAt = 0;
    EXPECT_EQ(RunSteps({[&](HWND main) {
                            HWND focus = ::GetDlgItem(main, IDC_DIFF_COUNT);
                            ::SetFocus(focus);
                            for (UINT key : {VK_RETURN, VK_ESCAPE}) {
                                ::PostMessageW(focus, WM_KEYDOWN, key, 1);
                                ::PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
                            }
                            ::PostMessageW(main, WM_COMMAND, IDOK, 0);
                            ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
                            keysAt = ::GetTickCount();
                            return true;
                        },
                        [&](HWND main) { return ::GetTickCount() - keysAt > 300 && ::IsWindowVisible(main); },
                        Post(WM_SYSCOMMAND, SC_CLOSE)},
                       false),
              1);
}

TEST_F(MainWindow, ComparesADroppedPairAndMarksTheSelectedRow)
{
    const auto before = Write("before.bmp", 6, 4);
    const auto after = Write("after.bmp", 6, 4, PairChanged);
    const auto same = Write("same.bmp", 6, 4);
    RunSteps({
        Drop({before, after}),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.IsLoaded());
            ASSERT_EQ(RowCount(), 3);
            EXPECT_EQ(RowText(0), L"x=4, y=0");
            EXPECT_EQ(RowText(1), L"x=1, y=2");
            EXPECT_EQ(RowText(2), L"x=5, y=3");
            EXPECT_EQ(WindowText(First().m_hWnd), before.wstring());
            EXPECT_EQ(WindowText(Second().m_hWnd), after.wstring());
            EXPECT_TRUE(::IsWindowVisible(First().m_hWnd));
            EXPECT_TRUE(::IsWindowVisible(Second().m_hWnd));
            EXPECT_TRUE(Checked(IDM_SHOW_IMAGES));

            SelectRow(1);
            EXPECT_EQ(StatusText(First()), ColourText(1, 2, PairBase(1, 2)));
            EXPECT_EQ(StatusText(Second()), ColourText(1, 2, PairChanged(1, 2)));
            EXPECT_EQ(Control(Second()).GetMarkerPos().x, 1);

            // A change that concerns all rows marks nothing.
            NMLISTVIEW all = {};
            all.hdr = {g_ImageCompare.GetList(), IDC_DIFF_LIST, UINT(LVN_ITEMCHANGED)};
            all.iItem = -1;
            all.uNewState = LVIS_SELECTED;
            ::SendMessageW(main, WM_NOTIFY, IDC_DIFF_LIST, AsLParam(&all));
            EXPECT_EQ(StatusText(First()), ColourText(1, 2, PairBase(1, 2)));
        }),
        Drop({before, same}),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0");
            EXPECT_EQ(RowCount(), 0);
            // Every comparison clears the markers and the status texts.
            EXPECT_EQ(StatusText(First()), L"");
            EXPECT_EQ(Control(First()).GetMarkerPos().x, -1);
        }),
        Drop({before}),
        CloseMessage(m_messages),
        Drop({before, after, before}),
        CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0");
            EXPECT_TRUE(g_ImageCompare.IsLoaded());
        }),
    });
    EXPECT_EQ(m_messages, (std::vector<std::wstring>(2, L"Drag & Drop では、2個のファイルを選択してください")));
}

// Each row of the outcome table, after a good comparison whose rows stay.
TEST_F(MainWindow, ReportsEachLoadFailureWithItsMessage)
{
    const auto good = Write("good.bmp", 6, 4);
    const auto changed = Write("changed.bmp", 6, 4, PairChanged);
    const auto palette = Write("palette.bmp", 6, 4, PairBase, 8);
    const auto wide = Write("wide.bmp", 7, 4);
    const auto text = m_dir.Write("text.bmp", {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    const auto failed = [](bool loaded, int secondWidth) {
        return Check([=](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"");
            EXPECT_EQ(g_ImageCompare.IsLoaded(), loaded);
            EXPECT_EQ(RowCount(), 3);  // the previous pair's rows stay
            EXPECT_TRUE(::IsWindowVisible(First().m_hWnd));
            EXPECT_EQ(g_ImageCompare.SecondImage().width, secondWidth);
        });
    };
    RunSteps({
        Drop({good, changed}),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3"); }),
        Drop({good, palette}), CloseMessage(m_messages), failed(false, 0),
        Check([&](HWND) { EXPECT_EQ(WindowText(Second().m_hWnd), palette.wstring()); }),
        Drop({text, palette}), CloseMessage(m_messages), failed(false, 0),  // both rejected: one message
        Drop({good, wide}), CloseMessage(m_messages), failed(true, 7),
        Drop({m_dir.Path() / "missing.bmp", good}), CloseMessage(m_messages), failed(false, 6),
        Drop({m_dir.Path(), good}), CloseMessage(m_messages), failed(false, 6),
    });
    EXPECT_EQ(m_messages, (std::vector<std::wstring>{
                              L"24 bit color 非圧縮フォーマットのみサポートしています",
                              L"Bitmap ファイルではありません",
                              L"２つのImageの幅または高さが異なります",
                              L"ファイルを読み込めませんでした",
                              L"ファイルを読み込めませんでした",
                          }));
}

TEST_F(MainWindow, RecomparesAtTheSpinnersToleranceWhenLoaded)
{
    const auto a = Write("a.bmp", 6, 4);
    const auto b = Write("b.bmp", 6, 4, PairChanged);
    RunSteps({
        Check([](HWND main) {
            ClickSpinner(main, true);  // nothing loaded: the value moves, the button stays off
            EXPECT_EQ(Text(main, IDC_THRESHOLD), L"2");
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
            ClickSpinner(main, false);
            ClickSpinner(main, false);  // at 1 a step down stays at 1
            EXPECT_EQ(Text(main, IDC_THRESHOLD), L"1");
        }),
        Drop({a, b}),
        Check([](HWND main) {
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
            ::SendDlgItemMessageW(main, IDC_THRESHOLD_SPIN, UDM_SETPOS, 0, 11);
            ClickSpinner(main, true);
            EXPECT_EQ(Text(main, IDC_THRESHOLD), L"12");
            EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
            SelectRow(0);
        }),
        Post(WM_COMMAND, IDC_RECOMPARE),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"2");  // the blue +3 is under 12
            ASSERT_EQ(RowCount(), 2);
            EXPECT_EQ(RowText(1), L"x=1, y=2");
            EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
            EXPECT_EQ(StatusText(First()), L"");
            EXPECT_EQ(::SendMessageW(g_ImageCompare.GetList(), LVM_GETSELECTEDCOUNT, 0, 0), 0);
            EXPECT_EQ(::SendMessageW(g_ImageCompare.GetList(), LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED), -1);
            ::SendDlgItemMessageW(main, IDC_THRESHOLD_SPIN, UDM_SETPOS, 0, 32);
            ClickSpinner(main, true);  // at 32 the step changes nothing but still enables
            EXPECT_EQ(Text(main, IDC_THRESHOLD), L"32");
            EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(main, IDC_RECOMPARE)));
        }),
        Post(WM_COMMAND, IDC_RECOMPARE),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"1");
            EXPECT_EQ(RowText(0), L"x=4, y=0");
            ::SendDlgItemMessageW(main, IDC_THRESHOLD_SPIN, UDM_SETPOS, 0, 1);
        }),
    });
}

TEST_F(MainWindow, ViewMenuActsOnBothImageWindows)
{
    const auto a = Write("a.bmp", 10, 6);
    const auto b = Write("b.bmp", 10, 6);
    RunSteps({
        // Chosen before the first load, the settings apply at load.
        Post(WM_COMMAND, IDM_ZOOM_4),
        Post(WM_COMMAND, IDM_GRID_WHITE),
        Check([](HWND) {
            EXPECT_TRUE(Checked(IDM_ZOOM_4));
            EXPECT_FALSE(Checked(IDM_ZOOM_1));
            EXPECT_TRUE(Checked(IDM_GRID_WHITE));
            EXPECT_FALSE(::IsWindowVisible(First().m_hWnd));
        }),
        Drop({a, b}),
        Check([](HWND) {
            for (CImageDlg* dialog : {&First(), &Second()}) {
                EXPECT_EQ(ControlSize(*dialog).cx, 40);
                EXPECT_EQ(ControlSize(*dialog).cy, 24);
                EXPECT_EQ(PaintedAt(*dialog, 0, 5), 0xFFFFFFu);
            }
        }),
        Post(WM_COMMAND, IDM_ZOOM_8),
        Post(WM_COMMAND, IDM_GRID_BLUE),
        Post(WM_COMMAND, IDM_TOOLTIP),
        Check([](HWND) {
            for (CImageDlg* dialog : {&First(), &Second()}) {
                EXPECT_EQ(ControlSize(*dialog).cx, 80);
                EXPECT_EQ(PaintedAt(*dialog, 0, 5), 0x0000FFu);
                EXPECT_TRUE(Control(*dialog).IsTooltipEnabled());
            }
            EXPECT_TRUE(Checked(IDM_TOOLTIP));
            // Closing either image window hides both.
            ::SendMessageW(Second().m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_FALSE(::IsWindowVisible(First().m_hWnd));
            EXPECT_FALSE(::IsWindowVisible(Second().m_hWnd));
            EXPECT_FALSE(Checked(IDM_SHOW_IMAGES));
        }),
        Post(WM_COMMAND, IDM_SHOW_IMAGES),
        Post(WM_COMMAND, IDM_TOOLTIP),
        Post(WM_COMMAND, IDM_ZOOM_1),
        Post(WM_COMMAND, IDM_GRID_NONE),
        Check([](HWND) {
            EXPECT_TRUE(::IsWindowVisible(First().m_hWnd));
            EXPECT_TRUE(::IsWindowVisible(Second().m_hWnd));
            EXPECT_FALSE(Control(First()).IsTooltipEnabled());
            EXPECT_EQ(ControlSize(Second()).cx, 10);
            const Rgb c = PairBase(0, 5);
            EXPECT_EQ(PaintedAt(Second(), 0, 5), uint32_t(c.r) << 16 | c.g << 8 | c.b);
        }),
    });
}

// Each load fits the view to the new pair, whether it is larger or smaller
// than the last; scrolled to the end, the last column and row lie at the
// view's edges.
TEST_F(MainWindow, FitsTheViewToEachPairsSize)
{
    const auto small = Write("small.bmp", 99, 61);
    const auto large = Write("large.bmp", 1500, 1200);
    const auto checkFit = [](int width, int height, int zoom) {
        return Check([=](HWND) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << " at zoom " << zoom);
            CClientView& view = *First().m_pClientView;
            RECT client;
            ::GetClientRect(view.m_hWnd, &client);
            const RECT control = RectIn(Control(First()).m_hWnd, view.m_hWnd);
            const bool bars = width * zoom > client.right;
            EXPECT_EQ(bars, height * zoom > client.bottom);
            if (!bars) {
                EXPECT_EQ(control.left, (client.right - width * zoom) / 2);
                EXPECT_EQ(control.top, (client.bottom - height * zoom) / 2);
                EXPECT_FALSE(::GetWindowLongPtrW(view.m_hWnd, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL));
                return;
            }
            for (const int bar : {SB_HORZ, SB_VERT}) {
                SCROLLINFO info = {};
                info.cbSize = sizeof info;
                info.fMask = SIF_ALL;
                ::GetScrollInfo(view.m_hWnd, bar, &info);
                EXPECT_EQ(info.nMax, (bar == SB_HORZ ? width : height) * zoom);
                EXPECT_EQ(int(info.nPage), bar == SB_HORZ ? client.right : client.bottom);
                EXPECT_EQ(info.nPos, 0);
                for (int i = 0; i < 100; ++i)
                    ::SendMessageW(view.m_hWnd, bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, SB_PAGEDOWN, 0);
            }
            const RECT end = RectIn(Control(First()).m_hWnd, view.m_hWnd);
            EXPECT_EQ(end.right, client.right);
            EXPECT_EQ(end.bottom, client.bottom);
        });
    };
    RunSteps({
        Drop({small, small}), checkFit(99, 61, 1),
        Drop({large, large}), checkFit(1500, 1200, 1),
        Drop({small, small}), checkFit(99, 61, 1),
        Post(WM_COMMAND, IDM_ZOOM_2),
        Drop({large, large}), checkFit(1500, 1200, 2),
        Drop({small, small}), checkFit(99, 61, 2),
        Drop({large, large}), checkFit(1500, 1200, 2),
        Post(WM_COMMAND, IDM_ZOOM_1),
    });
}

TEST_F(MainWindow, OpensPairsThroughTheOpenDialog)
{
    Write("a.bmp", 6, 4);
    Write("b.bmp", 6, 4, PairChanged);
    Write("c.bmp", 6, 4);
    const std::wstring longA(140, L'a'), longB(140, L'b');
    Write(std::string(140, 'a') + ".bmp", 6, 4);
    Write(std::string(140, 'b') + ".bmp", 6, 4, PairChanged);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());  // where the dialog starts
    ForgetOpenDialogFolders();
    RunSteps({
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"\"a.bmp\" \"b.bmp\""),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.IsLoaded());
            EXPECT_EQ(WindowText(First().m_hWnd), (m_dir.Path() / "a.bmp").wstring());
            EXPECT_EQ(WindowText(Second().m_hWnd), (m_dir.Path() / "b.bmp").wstring());
        }),
        // One name, then the second dialog for the other.
        Post(WM_COMMAND, IDM_OPEN), Answer(L"a.bmp"), Answer(L"c.bmp"),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0"); }),
        // Three names: message 105 and nothing loaded.
        Post(WM_COMMAND, IDM_OPEN), Answer(L"\"a.bmp\" \"b.bmp\" \"c.bmp\""), CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0");
            EXPECT_FALSE(g_ImageCompare.IsLoaded());
        }),
        // Names that together need more than the 260 characters of a path.
        Post(WM_COMMAND, IDM_OPEN), Answer(L"\"" + longA + L".bmp\" \"" + longB + L".bmp\""),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.IsLoaded());
        }),
        // Cancel at the first dialog, and at the second: nothing changes but the loaded flag.
        Post(WM_COMMAND, IDM_OPEN), Answer(L""),
        Check([](HWND) { EXPECT_FALSE(g_ImageCompare.IsLoaded()); }),
        Drop({m_dir.Path() / "a.bmp", m_dir.Path() / "b.bmp"}),
        Post(WM_COMMAND, IDM_OPEN), Answer(L"b.bmp"), Answer(L""),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_FALSE(g_ImageCompare.IsLoaded());
            EXPECT_EQ(RowCount(), 3);
        }),
    });
    std::filesystem::current_path(before);
    EXPECT_EQ(m_messages, std::vector<std::wstring>{L"2個以上のファイルが選択されました"});
}

namespace {

// Memory for no more than 8 records.
void* ScarceRealloc(void* block, size_t bytes)
{
    return bytes > 8 * sizeof(DiffPoint) ? nullptr : std::realloc(block, bytes);
}

} // namespace

TEST_F(MainWindow, EndsAComparisonThatRunsOutOfMemoryWithAMessage)
{
    const auto a = Write("a.bmp", 6, 4);
    const auto b = Write("b.bmp", 6, 4, PairChanged);
    const auto all = Write("all.bmp", 6, 4, [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 1}; });
    RunSteps({
        Drop({a, b}),
        Check([](HWND) {
            ASSERT_EQ(RowCount(), 3);
            g_ImageCompare.Differences().Release();
            g_ImageCompare.Differences().SetReallocator(ScarceRealloc);
        }),
        Drop({a, all}),  // 24 differences do not fit
        CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"");
            EXPECT_EQ(RowCount(), 0);
            g_ImageCompare.Differences().SetReallocator(nullptr);
        }),
        Drop({a, b}),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3"); }),
    });
    g_ImageCompare.Differences().SetReallocator(nullptr);
    EXPECT_EQ(m_messages, std::vector<std::wstring>{L"メモリが不足しています"});
}

TEST_F(MainWindow, OpensTheAboutBoxInADialogFrameWithoutACloseBoxFromTheHelpMenu)
{
    RunSteps({
        Post(WM_COMMAND, IDM_ABOUT),
        [](HWND main) {
            HWND box = FindDialog(main, L"バージョン情報");
            if (box) {
                EXPECT_FALSE(::GetWindowLongPtrW(box, GWL_STYLE) & WS_SYSMENU);
                EXPECT_TRUE(::GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
                ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            }
            return box != nullptr;
        },
        [](HWND main) { return FindDialog(main, L"バージョン情報") == nullptr; },
    });
}

namespace {

// Runs the about box; `poke` does something to it once it is shown, then the
// script waits for it to close. Returns the dialog's result (-2: still open
// after the wait, ended by the test).
INT_PTR RunAboutBox(const std::function<void(HWND box)>& poke, DWORD waitMs)
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

TEST(AboutBox, ClosesOnItsButtonEnterAndEscapeAndNothingElse)
{
    EXPECT_EQ(RunAboutBox([](HWND box) { ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0); }, 3000), IDOK);
    EXPECT_EQ(RunAboutBox([](HWND box) { PressKey(box, VK_RETURN); }, 3000), IDOK);
    EXPECT_EQ(RunAboutBox([](HWND box) { PressKey(box, VK_ESCAPE); }, 3000), IDCANCEL);
    const std::function<void(HWND)> others[] = {
        [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDC_DIFF_LIST, 0); },
        [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDM_EXIT, 0); },
        [](HWND box) { PressKey(box, 'A'); },
        [](HWND box) { PressKey(box, VK_TAB); },
        [](HWND box) { ::PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)); },
    };
    for (size_t i = 0; i < std::size(others); ++i)
        EXPECT_EQ(RunAboutBox(others[i], 300), -2) << "input " << i;
}
