#include "ClientView.h"
#include "GuiTest.h"
#include "ImageDlg.h"
#include "MovieViewCtrl.h"
#include "ViewerTest.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

// The main window's stand-in: writes down the commands it receives.
std::vector<std::pair<WPARAM, LPARAM>> s_commands;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COMMAND)
        s_commands.emplace_back(wParam, lParam);
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

class ImageDlgTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = g_hInstance;
        wc.lpszClassName = L"TobrelTestOwner";
        ::RegisterClassW(&wc);
        m_hOwner = ::CreateWindowExW(0, L"TobrelTestOwner", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                     nullptr, nullptr, g_hInstance, nullptr);
        s_commands.clear();
        m_dialog = new CImageDlg;
        ASSERT_TRUE(m_dialog->Create(IDD_IMAGE, m_hOwner));
    }

    void TearDown() override
    {
        ::DestroyWindow(m_hOwner);  // takes the owned image window with it
        delete m_dialog;
    }

    std::wstring StatusText() const
    {
        wchar_t text[128] = {};
        ::SendMessageW(m_dialog->m_hStatusBar, SB_GETTEXTW, 0, AsLParam(text));
        return text;
    }

    CMovieViewCtrl& Control() { return *m_dialog->m_pClientView->m_pViewCtrl; }

    HWND m_hOwner = nullptr;
    CImageDlg* m_dialog = nullptr;
};

} // namespace

TEST_F(ImageDlgTest, IsCreatedHiddenWithItsViewStatusBarAndIcon)
{
    EXPECT_FALSE(::IsWindowVisible(m_dialog->m_hWnd));
    EXPECT_EQ(::GetWindow(m_dialog->m_hWnd, GW_OWNER), m_hOwner);
    ASSERT_NE(m_dialog->m_pClientView, nullptr);
    EXPECT_EQ(::GetParent(m_dialog->m_pClientView->m_hWnd), m_dialog->m_hWnd);
    EXPECT_EQ(ClassName(m_dialog->m_pClientView->m_hWnd), L"ClientView");
    EXPECT_EQ(ClassName(Control().m_hWnd), L"MovieViewCtrl");
    EXPECT_EQ(ClassName(m_dialog->m_hStatusBar), L"msctls_statusbar32");
    EXPECT_TRUE(::GetWindowLongPtrW(m_dialog->m_hStatusBar, GWL_STYLE) & SBARS_SIZEGRIP);
    EXPECT_NE(::SendMessageW(m_dialog->m_hWnd, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_EQ(StatusText(), L"");
}

TEST_F(ImageDlgTest, LaysOutViewAboveA28PixelStatusBand)
{
    ::SetWindowPos(m_dialog->m_hWnd, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    ::GetClientRect(m_dialog->m_hWnd, &client);
    const RECT view = RectIn(m_dialog->m_pClientView->m_hWnd, m_dialog->m_hWnd);
    EXPECT_EQ(view.left, 0);
    EXPECT_EQ(view.top, 0);
    EXPECT_EQ(view.right, client.right);
    EXPECT_EQ(view.bottom, client.bottom - 28);
    const RECT status = RectIn(m_dialog->m_hStatusBar, m_dialog->m_hWnd);
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_GE(status.top, client.bottom - 28);
    EXPECT_EQ(status.right, client.right);

    // Lower than the band: the view gets no height, never a negative one.
    ::SetWindowPos(m_dialog->m_hWnd, nullptr, 0, 0, 300, 20, SWP_NOMOVE | SWP_NOZORDER);
    const RECT flat = RectIn(m_dialog->m_pClientView->m_hWnd, m_dialog->m_hWnd);
    EXPECT_EQ(flat.bottom - flat.top, 0);
}

TEST_F(ImageDlgTest, DescribesTheMarkedPixelInItsOwnImage)
{
    PutPicture(Control(), 8, 8, [](int x, int y) {
        return x == 3 && y == 5 ? Rgb{255, 0, 0} : Rgb{uint8_t(x), uint8_t(y), 7};
    });
    m_dialog->MarkPixel(3, 5);
    EXPECT_EQ(StatusText(), L"XY=(3, 5), RGB=(255, 0, 0)");
    EXPECT_EQ(Control().m_ptMarker.x, 3);
    EXPECT_EQ(Control().m_ptMarker.y, 5);
    m_dialog->MarkPixel(0, 7);
    EXPECT_EQ(StatusText(), L"XY=(0, 7), RGB=(0, 7, 7)");
    m_dialog->MarkPixel(100, 100);
    EXPECT_EQ(StatusText(), L"XY=(100, 100), RGB=(0, 0, 0)");
    m_dialog->MarkPixel(5, -1);
    EXPECT_EQ(StatusText(), L"");
    EXPECT_EQ(Control().m_ptMarker.x, 5);
    m_dialog->MarkPixel(-1, -1);
    EXPECT_EQ(StatusText(), L"");
    EXPECT_EQ(Control().m_ptMarker.x, -1);
    m_dialog->MarkPixel(65535, 65535);
    EXPECT_EQ(StatusText(), L"XY=(65535, 65535), RGB=(0, 0, 0)");
}

TEST_F(ImageDlgTest, ClosingAsksTheOwnerToHideTheImagesAndSurvives)
{
    ::ShowWindow(m_dialog->m_hWnd, SW_SHOW);
    ::SendMessageW(m_dialog->m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_EQ(s_commands.size(), 1u);
    EXPECT_EQ(s_commands[0].first, WPARAM(IDM_SHOW_IMAGES));
    EXPECT_EQ(s_commands[0].second, 0);
    EXPECT_TRUE(::IsWindow(m_dialog->m_hWnd));
    // Moving and sizing are not closing.
    ::SendMessageW(m_dialog->m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ::ShowWindow(m_dialog->m_hWnd, SW_RESTORE);
    EXPECT_EQ(s_commands.size(), 1u);
}

TEST_F(ImageDlgTest, ShowsAZoomedImageWithGridAndMarker)
{
    PutPicture(Control(), 100, 70, [](int x, int y) {
        return Rgb{uint8_t(x * 6), uint8_t(120 + y * 4), uint8_t(200 - x * 3)};
    });
    Control().SetZoom(8);
    Control().SetGridColor(RGB(255, 255, 255));
    ::SetWindowPos(m_dialog->m_hWnd, nullptr, 60, 60, 700, 500, SWP_NOZORDER);
    m_dialog->LayoutChildren();
    m_dialog->MarkPixel(6, 4);
    ::SetWindowTextW(m_dialog->m_hWnd, L"C:\\画像\\sample.bmp");
    ::ShowWindow(m_dialog->m_hWnd, SW_SHOW);
    ::UpdateWindow(m_dialog->m_hWnd);
    PumpPending();
    EXPECT_TRUE(::GetWindowLongPtrW(m_dialog->m_pClientView->m_hWnd, GWL_STYLE) & WS_HSCROLL);
    std::filesystem::create_directories(L"screenshots");
    EXPECT_TRUE(SaveWindowShot(m_dialog->m_hWnd, L"screenshots\\image-window-zoom8.bmp"));
}
