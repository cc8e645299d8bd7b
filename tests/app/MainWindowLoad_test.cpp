// The main window doing its job: pairs dropped on it (drop handles built in
// this process), the outcomes of a load, the list and its selection, the
// spinner and re-compare, and the View menu. Everything runs inside the main
// window's own modal loop, driven step by step from a timer.

#include "PicturePair.h"
#include "ClientView.h"
#include "DropFiles.h"
#include "GuiTest.h"
#include "ImageCompare.h"
#include "ImageDlg.h"
#include "MovieViewCtrl.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <dlgs.h>
#include <shlobj.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Step = std::function<bool(HWND main)>;

// Runs the steps in order, one or more timer ticks each; a tick comes only
// when the main window's queue is empty, so whatever a step posted has been
// handled (or is waiting in a message box) by the next one.
void RunSteps(std::vector<Step> steps)
{
    size_t next = 0;
    CModalScript driver([&] {
        HWND main = g_ImageCompare.m_hWnd;
        if (!main || !::IsWindowVisible(main))
            return false;
        if (next < steps.size() && steps[next](main))
            ++next;
        if (next == steps.size()) {
            ::PostMessageW(main, WM_COMMAND, IDM_EXIT, 0);
            return true;
        }
        return false;
    }, 20000);
    g_ImageCompare.DoModal(IDD_MAIN, nullptr);
    EXPECT_FALSE(driver.TimedOut()) << "stopped at step " << next << " of " << steps.size();
}

HWND FindMessageBox(HWND main)
{
    struct Search { HWND main, found; } search{main, nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND hwnd, LPARAM lParam) {
        auto* s = AsPointer<Search>(lParam);
        if (::IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770" && ::GetWindow(hwnd, GW_OWNER) == s->main &&
            ::GetDlgItem(hwnd, 0xFFFF) && hwnd != g_ImageCompare.m_pImageDlg1->m_hWnd &&
            hwnd != g_ImageCompare.m_pImageDlg2->m_hWnd) {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }, AsLParam(&search));
    return search.found;
}

// Posts a drop of these files onto the main window.
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
        HWND box = FindMessageBox(main);
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
        if (FindMessageBox(main)) {
            ADD_FAILURE() << "an unexpected message box: " << testing::PrintToString(
                                 WindowText(::GetDlgItem(FindMessageBox(main), 0xFFFF)));
            ::PostMessageW(FindMessageBox(main), WM_COMMAND, IDOK, 0);
            return false;
        }
        check(main);
        return true;
    };
}

std::wstring Text(HWND main, int id)
{
    return WindowText(::GetDlgItem(main, id));
}

std::wstring StatusText(CImageDlg* dialog)
{
    wchar_t text[128] = {};
    ::SendMessageW(dialog->m_hStatusBar, SB_GETTEXTW, 0, AsLParam(text));
    return text;
}

std::wstring RowText(int row)
{
    wchar_t text[64] = {};
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = ARRAYSIZE(text);
    ::SendMessageW(g_ImageCompare.m_hList, LVM_GETITEMTEXTW, row, AsLParam(&item));
    return text;
}

int RowCount()
{
    return int(::SendMessageW(g_ImageCompare.m_hList, LVM_GETITEMCOUNT, 0, 0));
}

void SelectRow(int row)
{
    LVITEMW item = {};
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(g_ImageCompare.m_hList, LVM_SETITEMSTATE, row, AsLParam(&item));
}

bool Checked(UINT id)
{
    return ::GetMenuState(g_ImageCompare.m_hMenu, id, MF_BYCOMMAND) & MF_CHECKED;
}

CMovieViewCtrl& Control(CImageDlg* dialog)
{
    return *dialog->m_pClientView->m_pViewCtrl;
}

SIZE ControlSize(CImageDlg* dialog)
{
    RECT rect;
    ::GetWindowRect(Control(dialog).m_hWnd, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
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

class MainWindowLoad : public testing::Test
{
protected:
    std::filesystem::path Picture(const std::string& name, int width, int height, PixelFn pixel = Base,
                                  uint16_t bits = 24)
    {
        BmpSpec spec;
        spec.width = width;
        spec.height = height;
        spec.pixel = std::move(pixel);
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<wchar_t> first(526, L'\0'), second(261, L'\0');
        std::copy(c.buffer.begin(), c.buffer.end(), first.begin());
        EXPECT_EQ(SplitSelection(second.data(), second.size(), first.data(), first.size()), c.expected);
        EXPECT_EQ(std::wstring(first.data()), c.first);
        EXPECT_EQ(std::wstring(second.data()), c.second);
    }

    // No verdict within the buffer: a name that runs to its end.
    std::vector<wchar_t> first(526, L'x'), second(261, L'\0');
    first[3] = L'\0';
    EXPECT_EQ(SplitSelection(second.data(), second.size(), first.data(), first.size()), 0);
    // The walk examines positions 0 to 521 of a 526-character buffer.
    std::vector<wchar_t> edge(526, L'x');
    edge[522] = L'\0';
    edge[523] = L'\0';
    EXPECT_EQ(SplitSelection(second.data(), second.size(), edge.data(), edge.size()), 0);
    edge.assign(526, L'x');
    edge[521] = L'\0';
    edge[522] = L'\0';
    EXPECT_EQ(SplitSelection(second.data(), second.size(), edge.data(), edge.size()), 1);
}

TEST_F(MainWindowLoad, StartsWithHiddenImageWindowsApart)
{
    RunSteps({Check([](HWND main) {
        CImageDlg* first = g_ImageCompare.m_pImageDlg1;
        CImageDlg* second = g_ImageCompare.m_pImageDlg2;
        ASSERT_NE(first->m_hWnd, nullptr);
        ASSERT_NE(second->m_hWnd, nullptr);
        EXPECT_FALSE(::IsWindowVisible(first->m_hWnd));
        EXPECT_FALSE(::IsWindowVisible(second->m_hWnd));
        EXPECT_EQ(::GetWindow(first->m_hWnd, GW_OWNER), main);
        RECT a, b;
        ::GetWindowRect(first->m_hWnd, &a);
        ::GetWindowRect(second->m_hWnd, &b);
        EXPECT_EQ(b.left - a.left, 50);
        EXPECT_EQ(b.top - a.top, 50);
        EXPECT_EQ(b.right - b.left, a.right - a.left);
        EXPECT_TRUE(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    })});
}

TEST_F(MainWindowLoad, ComparesADroppedPairAndMarksTheSelectedRow)
{
    const auto before = Picture("before.bmp", 6, 4);
    const auto after = Picture("after.bmp", 6, 4, Changed);
    const auto same = Picture("same.bmp", 6, 4);
    RunSteps({
        Drop({before, after}),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.m_bLoaded);
            ASSERT_EQ(RowCount(), 3);
            EXPECT_EQ(RowText(0), L"x=4, y=0");
            EXPECT_EQ(RowText(1), L"x=1, y=2");
            EXPECT_EQ(RowText(2), L"x=5, y=3");
            EXPECT_EQ(WindowText(g_ImageCompare.m_pImageDlg1->m_hWnd), before.wstring());
            EXPECT_EQ(WindowText(g_ImageCompare.m_pImageDlg2->m_hWnd), after.wstring());
            EXPECT_TRUE(::IsWindowVisible(g_ImageCompare.m_pImageDlg1->m_hWnd));
            EXPECT_TRUE(::IsWindowVisible(g_ImageCompare.m_pImageDlg2->m_hWnd));
            EXPECT_TRUE(Checked(IDM_SHOW_IMAGES));
            EXPECT_EQ(ControlSize(g_ImageCompare.m_pImageDlg1).cx, 6);

            SelectRow(1);
            EXPECT_EQ(StatusText(g_ImageCompare.m_pImageDlg1), ColourText(1, 2, Base(1, 2)));
            EXPECT_EQ(StatusText(g_ImageCompare.m_pImageDlg2), ColourText(1, 2, Changed(1, 2)));
            EXPECT_EQ(Control(g_ImageCompare.m_pImageDlg2).m_ptMarker.x, 1);

            // A change that concerns all rows marks nothing.
            NMLISTVIEW all = {};
            all.hdr.hwndFrom = g_ImageCompare.m_hList;
            all.hdr.code = LVN_ITEMCHANGED;
            all.iItem = -1;
            all.uNewState = LVIS_SELECTED;
            ::SendMessageW(main, WM_NOTIFY, IDC_DIFF_LIST, AsLParam(&all));
            EXPECT_EQ(StatusText(g_ImageCompare.m_pImageDlg1), ColourText(1, 2, Base(1, 2)));
        }),
        Drop({before, same}),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0");
            EXPECT_EQ(RowCount(), 0);
            // Every comparison clears the markers and the status texts.
            EXPECT_EQ(StatusText(g_ImageCompare.m_pImageDlg1), L"");
            EXPECT_EQ(Control(g_ImageCompare.m_pImageDlg1).m_ptMarker.x, -1);
        }),
    });
}

TEST_F(MainWindowLoad, AsksForExactlyTwoDroppedFiles)
{
    const auto a = Picture("a.bmp", 6, 4);
    const auto b = Picture("b.bmp", 6, 4, Changed);
    RunSteps({
        Drop({a, b}),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3"); }),
        Drop({a}),
        CloseMessage(m_messages),
        Drop({a, b, a}),
        CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_EQ(RowCount(), 3);
            EXPECT_TRUE(g_ImageCompare.m_bLoaded);
        }),
    });
    EXPECT_EQ(m_messages, (std::vector<std::wstring>{L"Drag & Drop では、2個のファイルを選択してください",
                                                     L"Drag & Drop では、2個のファイルを選択してください"}));
}

// Each row of the outcome table, after a good comparison whose rows stay.
TEST_F(MainWindowLoad, ReportsEachLoadFailureWithItsMessage)
{
    const auto good = Picture("good.bmp", 6, 4);
    const auto changed = Picture("changed.bmp", 6, 4, Changed);
    const auto palette = Picture("palette.bmp", 6, 4, Base, 8);
    const auto wide = Picture("wide.bmp", 7, 4);
    const auto text = m_dir.Write("text.bmp", {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    const auto missing = m_dir.Path() / "missing.bmp";
    const auto checkFailed = [](bool loaded) {
        return Check([loaded](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"");
            EXPECT_EQ(g_ImageCompare.m_bLoaded, loaded);
            EXPECT_EQ(RowCount(), 3);  // the previous pair's rows stay
            EXPECT_TRUE(::IsWindowVisible(g_ImageCompare.m_pImageDlg1->m_hWnd));
        });
    };
    RunSteps({
        Drop({good, changed}),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3"); }),
        Drop({good, palette}),
        CloseMessage(m_messages),
        checkFailed(false),
        Check([&](HWND) {
            EXPECT_EQ(g_ImageCompare.FirstImage().width, 6);
            EXPECT_EQ(g_ImageCompare.SecondImage().width, 0);
            EXPECT_EQ(WindowText(g_ImageCompare.m_pImageDlg2->m_hWnd), palette.wstring());
        }),
        Drop({text, palette}),  // both rejected: only the first file's message
        CloseMessage(m_messages),
        checkFailed(false),
        Drop({good, wide}),
        CloseMessage(m_messages),
        checkFailed(true),
        Check([](HWND) {
            EXPECT_EQ(g_ImageCompare.FirstImage().width, 6);
            EXPECT_EQ(g_ImageCompare.SecondImage().width, 7);
        }),
        Drop({missing, good}),
        CloseMessage(m_messages),
        checkFailed(false),
        Drop({m_dir.Path(), good}),  // a folder
        CloseMessage(m_messages),
        checkFailed(false),
    });
    EXPECT_EQ(m_messages, (std::vector<std::wstring>{
                              L"24 bit color 非圧縮フォーマットのみサポートしています",
                              L"Bitmap ファイルではありません",
                              L"２つのImageの幅または高さが異なります",
                              L"ファイルを読み込めませんでした",
                              L"ファイルを読み込めませんでした",
                          }));
}

TEST_F(MainWindowLoad, RecomparesAtTheSpinnersToleranceWhenLoaded)
{
    const auto a = Picture("a.bmp", 6, 4);
    const auto b = Picture("b.bmp", 6, 4, Changed);
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
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
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
            EXPECT_EQ(StatusText(g_ImageCompare.m_pImageDlg1), L"");
            EXPECT_EQ(::SendMessageW(g_ImageCompare.m_hList, LVM_GETSELECTEDCOUNT, 0, 0), 0);
            EXPECT_EQ(::SendMessageW(g_ImageCompare.m_hList, LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED), -1);
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

TEST_F(MainWindowLoad, ViewMenuActsOnBothImageWindows)
{
    const auto a = Picture("a.bmp", 10, 6);
    const auto b = Picture("b.bmp", 10, 6, Base);
    RunSteps({
        // Chosen before the first load, the settings apply at load.
        Post(WM_COMMAND, IDM_ZOOM_4),
        Post(WM_COMMAND, IDM_GRID_WHITE),
        Check([](HWND) {
            EXPECT_TRUE(Checked(IDM_ZOOM_4));
            EXPECT_FALSE(Checked(IDM_ZOOM_1));
            EXPECT_TRUE(Checked(IDM_GRID_WHITE));
            EXPECT_FALSE(::IsWindowVisible(g_ImageCompare.m_pImageDlg1->m_hWnd));
        }),
        Drop({a, b}),
        Check([](HWND) {
            for (CImageDlg* dialog : {g_ImageCompare.m_pImageDlg1, g_ImageCompare.m_pImageDlg2}) {
                EXPECT_EQ(ControlSize(dialog).cx, 40);
                EXPECT_EQ(ControlSize(dialog).cy, 24);
                EXPECT_NE(Control(dialog).m_hGridPen, nullptr);
            }
        }),
        Post(WM_COMMAND, IDM_ZOOM_8),
        Post(WM_COMMAND, IDM_GRID_NONE),
        Post(WM_COMMAND, IDM_TOOLTIP),
        Check([](HWND) {
            for (CImageDlg* dialog : {g_ImageCompare.m_pImageDlg1, g_ImageCompare.m_pImageDlg2}) {
                EXPECT_EQ(ControlSize(dialog).cx, 80);
                EXPECT_EQ(Control(dialog).m_hGridPen, nullptr);
                EXPECT_TRUE(Control(dialog).m_bShowTooltip);
            }
            EXPECT_TRUE(Checked(IDM_TOOLTIP));
            EXPECT_TRUE(Checked(IDM_SHOW_IMAGES));
            // Closing either image window hides both and removes the mark.
            ::SendMessageW(g_ImageCompare.m_pImageDlg2->m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            EXPECT_FALSE(::IsWindowVisible(g_ImageCompare.m_pImageDlg1->m_hWnd));
            EXPECT_FALSE(::IsWindowVisible(g_ImageCompare.m_pImageDlg2->m_hWnd));
            EXPECT_FALSE(Checked(IDM_SHOW_IMAGES));
            EXPECT_TRUE(::IsWindow(g_ImageCompare.m_pImageDlg2->m_hWnd));
        }),
        Post(WM_COMMAND, IDM_SHOW_IMAGES),
        Check([](HWND) {
            EXPECT_TRUE(::IsWindowVisible(g_ImageCompare.m_pImageDlg1->m_hWnd));
            EXPECT_TRUE(::IsWindowVisible(g_ImageCompare.m_pImageDlg2->m_hWnd));
        }),
        Post(WM_COMMAND, IDM_TOOLTIP),
        Post(WM_COMMAND, IDM_ZOOM_1),
        Check([](HWND) {
            EXPECT_FALSE(Control(g_ImageCompare.m_pImageDlg1).m_bShowTooltip);
            EXPECT_EQ(ControlSize(g_ImageCompare.m_pImageDlg2).cx, 10);
        }),
        Post(WM_COMMAND, IDM_SHOW_IMAGES),
    });
}

// The sample pair as a user sees it, kept as a screenshot of the screen:
// the main window with its list, both image windows moved beside it.
TEST_F(MainWindowLoad, ShowsTheSamplePairOnScreen)
{
    std::error_code error;
    const std::filesystem::path samples = std::filesystem::canonical(L"..\\..\\samples", error);
    if (error || !std::filesystem::exists(samples / L"before.bmp"))
        GTEST_SKIP() << "samples not found beside the build tree";
    RunSteps({
        Drop({samples / L"before.bmp", samples / L"after.bmp"}),
        Post(WM_COMMAND, IDM_ZOOM_2),
        Post(WM_COMMAND, IDM_GRID_WHITE),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"10");
            SelectRow(2);  // x=240, y=70: the sun's centre
            EXPECT_EQ(RowText(2), L"x=240, y=70");
            RECT rect;
            ::GetWindowRect(main, &rect);
            ::SetWindowPos(main, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            ::SetWindowPos(g_ImageCompare.m_pImageDlg1->m_hWnd, nullptr, rect.right - rect.left + 20, 10, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER);
            ::SetWindowPos(g_ImageCompare.m_pImageDlg2->m_hWnd, nullptr, rect.right - rect.left + 70, 460, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER);
            ::SendMessageW(g_ImageCompare.m_pImageDlg1->m_pClientView->m_hWnd, WM_VSCROLL, SB_PAGEDOWN, 0);
            ::RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            std::filesystem::create_directories(L"screenshots");
            EXPECT_TRUE(SaveWindowShot(::GetDesktopWindow(), L"screenshots\\tobrel-comparison.bmp"));
        }),
    });
}

namespace {

// The system's open dialog, once it is up: a dialog with the file name box.
HWND FindOpenDialog()
{
    struct Search { HWND found; } search{nullptr};
    ::EnumThreadWindows(::GetCurrentThreadId(), [](HWND hwnd, LPARAM lParam) {
        if (::IsWindowVisible(hwnd) && ClassName(hwnd) == L"#32770" && (::GetDlgItem(hwnd, cmb13) || ::GetDlgItem(hwnd, edt1))) {
            AsPointer<Search>(lParam)->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }, AsLParam(&search));
    return search.found;
}

// Types `names` into the open dialog's name box and presses Open, or
// presses Cancel when `names` is empty.
Step Answer(const std::wstring& names)
{
    return [names](HWND) {
        HWND dialog = FindOpenDialog();
        if (!dialog)
            return false;
        if (names.empty()) {
            ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            return true;
        }
        HWND box = ::GetDlgItem(dialog, cmb13) ? ::GetDlgItem(dialog, cmb13) : ::GetDlgItem(dialog, edt1);
        ::SetWindowTextW(box, names.c_str());
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
}

} // namespace

TEST_F(MainWindowLoad, OpensPairsThroughTheOpenDialog)
{
    Picture("a.bmp", 6, 4);
    Picture("b.bmp", 6, 4, Changed);
    Picture("c.bmp", 6, 4);
    const std::wstring longA(140, L'a'), longB(140, L'b');
    Picture(std::string(140, 'a') + ".bmp", 6, 4);
    Picture(std::string(140, 'b') + ".bmp", 6, 4, Changed);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());  // where the dialog starts
    RunSteps({
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"\"a.bmp\" \"b.bmp\""),
        Check([&](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.m_bLoaded);
            EXPECT_EQ(WindowText(g_ImageCompare.m_pImageDlg1->m_hWnd), (m_dir.Path() / "a.bmp").wstring());
            EXPECT_EQ(WindowText(g_ImageCompare.m_pImageDlg2->m_hWnd), (m_dir.Path() / "b.bmp").wstring());
        }),
        // One name, then the second dialog for the other.
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"a.bmp"),
        Answer(L"c.bmp"),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0"); }),
        // Three names: message 105 and nothing loaded.
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"\"a.bmp\" \"b.bmp\" \"c.bmp\""),
        CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"0");
            EXPECT_FALSE(g_ImageCompare.m_bLoaded);
        }),
            // Names that together need more than the 260 characters of a path.
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"\"" + longA + L".bmp\" \"" + longB + L".bmp\""),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_TRUE(g_ImageCompare.m_bLoaded);
        }),
        // Cancel at the first dialog, and at the second.
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L""),
        Post(WM_COMMAND, IDM_OPEN),
        Answer(L"b.bmp"),
        Answer(L""),
        Check([](HWND main) {
            // Nothing changed but the loaded flag.
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3");
            EXPECT_FALSE(g_ImageCompare.m_bLoaded);
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

TEST_F(MainWindowLoad, EndsAComparisonThatRunsOutOfMemoryWithAMessage)
{
    const auto a = Picture("a.bmp", 6, 4);
    const auto b = Picture("b.bmp", 6, 4, Changed);
    const auto all = Picture("all.bmp", 6, 4, [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 1}; });
    RunSteps({
        Drop({a, b}),
        Check([](HWND) {
            ASSERT_EQ(RowCount(), 3);
            g_ImageCompare.m_DiffList.Release();
            g_ImageCompare.m_DiffList.SetReallocator(ScarceRealloc);
        }),
        Drop({a, all}),  // 24 differences do not fit
        CloseMessage(m_messages),
        Check([](HWND main) {
            EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"");
            EXPECT_EQ(RowCount(), 0);
            EXPECT_EQ(g_ImageCompare.m_DiffList.Size(), 0);
            g_ImageCompare.m_DiffList.SetReallocator(nullptr);
        }),
        Drop({a, b}),
        Check([](HWND main) { EXPECT_EQ(Text(main, IDC_DIFF_COUNT), L"3"); }),
    });
    g_ImageCompare.m_DiffList.SetReallocator(nullptr);
    EXPECT_EQ(m_messages, std::vector<std::wstring>{L"メモリが不足しています"});
}
