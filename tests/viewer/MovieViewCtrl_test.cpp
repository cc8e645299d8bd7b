#include "ClientView.h"
#include "GuiTest.h"
#include "MovieViewCtrl.h"
#include "ViewerTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

// Never pure white or pure red, so grid and marker stand out.
Rgb Picture(int x, int y)
{
    return {uint8_t(20 + x % 200), uint8_t(40 + y % 200), 90};
}

constexpr uint32_t c_white = 0xFFFFFF;
constexpr uint32_t c_red = 0xFF0000;

class MovieViewCtrlTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_view = std::make_unique<CClientView>();
        m_view->Create(WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_host.m_hWnd);
        ::SetWindowPos(m_view->m_hWnd, nullptr, 0, 0, 860, 660, SWP_NOZORDER);
        m_control = m_view->m_pViewCtrl;
    }

    CHostWindow m_host;
    std::unique_ptr<CClientView> m_view;
    CMovieViewCtrl* m_control = nullptr;
};

SIZE WindowSize(HWND hwnd)
{
    RECT rect;
    ::GetWindowRect(hwnd, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

} // namespace

TEST_F(MovieViewCtrlTest, StartsEmptyWithItsToolAndPen)
{
    EXPECT_EQ(m_control->m_nZoom, 1);
    EXPECT_FALSE(m_control->m_bShowTooltip);
    EXPECT_EQ(m_control->m_hGridPen, nullptr);
    EXPECT_EQ(m_control->m_pSurfaceBits, nullptr);
    EXPECT_EQ(m_control->m_ptMarker.x, -1);
    ASSERT_NE(m_control->m_hTooltip, nullptr);
    // A pop-up's owner is always a top-level window: the control's root.
    EXPECT_EQ(::GetWindow(m_control->m_hTooltip, GW_OWNER), ::GetAncestor(m_control->m_hWnd, GA_ROOT));
    EXPECT_EQ(::SendMessageW(m_control->m_hTooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    LOGPEN pen = {};
    ASSERT_NE(::GetObjectW(m_control->m_hMarkerPen, sizeof pen, &pen), 0);
    EXPECT_EQ(pen.lopnColor, RGB(255, 0, 0));
    EXPECT_EQ(pen.lopnWidth.x, 2);
    EXPECT_EQ(WindowSize(m_control->m_hWnd).cx, 0);
}

TEST_F(MovieViewCtrlTest, BuildsTheSurfaceAndSizesItselfToIt)
{
    PutPicture(*m_control, 5, 3, Picture);
    m_control->SetZoom(2);
    EXPECT_EQ(m_control->m_nZoom, 2);
    const BITMAPINFOHEADER& header = m_control->m_bmiSurface.bmiHeader;
    EXPECT_EQ(header.biWidth, 10);
    EXPECT_EQ(header.biHeight, 6);  // bottom-up
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 32u * 6);
    EXPECT_EQ(WindowSize(m_control->m_hWnd).cx, 10);
    EXPECT_EQ(WindowSize(m_control->m_hWnd).cy, 6);
    EXPECT_EQ(m_control->GetViewSize().cx, 10);

    const auto* bits = static_cast<const uint8_t*>(m_control->m_pSurfaceBits);
    ASSERT_NE(bits, nullptr);
    for (int sy = 0; sy < 6; ++sy) {
        for (int sx = 0; sx < 10; ++sx) {
            const uint8_t* p = bits + (5 - sy) * 32 + 3 * sx;
            ASSERT_EQ((Rgb{p[2], p[1], p[0]}), Picture(sx / 2, sy / 2)) << sx << "," << sy;
        }
    }

    // The same size again: no resize to report.
    EXPECT_FALSE(m_control->RebuildSurface());
    PutPicture(*m_control, 6, 3, Picture);
    EXPECT_TRUE(m_control->RebuildSurface());
}

TEST_F(MovieViewCtrlTest, RebuildsForEveryGridChoiceButNotForTheSameZoom)
{
    PutPicture(*m_control, 8, 8, Picture);
    m_control->RebuildSurface();
    auto* bits = static_cast<uint8_t*>(m_control->m_pSurfaceBits);
    bits[0] = 0xA5;  // no picture pixel has this blue
    m_control->SetZoom(1);
    EXPECT_EQ(static_cast<uint8_t*>(m_control->m_pSurfaceBits)[0], 0xA5);
    m_control->SetGridColor(CMovieViewCtrl::c_crNoGrid);
    EXPECT_NE(static_cast<uint8_t*>(m_control->m_pSurfaceBits)[0], 0xA5);
    EXPECT_EQ(m_control->m_hGridPen, nullptr);
    m_control->SetGridColor(RGB(0, 255, 0));
    LOGPEN pen = {};
    ASSERT_NE(::GetObjectW(m_control->m_hGridPen, sizeof pen, &pen), 0);
    EXPECT_EQ(pen.lopnColor, RGB(0, 255, 0));
    EXPECT_EQ(pen.lopnWidth.x, 1);
}

TEST_F(MovieViewCtrlTest, KeepsItsSizeAndShowsNothingWithoutAnImage)
{
    PutPicture(*m_control, 30, 20, Picture);
    m_control->SetZoom(2);
    FreeImageBuffer(m_control->GetImage());
    EXPECT_FALSE(m_control->RebuildSurface());
    EXPECT_EQ(m_control->m_pSurfaceBits, nullptr);
    EXPECT_EQ(WindowSize(m_control->m_hWnd).cx, 60);
    EXPECT_EQ(m_control->GetViewSize().cy, 40);

    // A record with a negative side is treated as no image, never read.
    m_control->GetImage() = ImageBuffer{4, -4, 12, nullptr};
    EXPECT_FALSE(m_control->RebuildSurface());
    EXPECT_EQ(m_control->m_pSurfaceBits, nullptr);
    m_control->GetImage() = ImageBuffer{};
}

TEST_F(MovieViewCtrlTest, PaintsTheGridEverySixteenImagePixels)
{
    PutPicture(*m_control, 40, 20, Picture);
    m_control->SetGridColor(RGB(255, 255, 255));
    Painted shown = PaintToMemory(*m_control, 40, 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool onLine = x % 16 == 0 || y % 16 == 0;
            ASSERT_EQ(shown.At(x, y), onLine ? c_white : Hex(Picture(x, y))) << x << "," << y;
        }
    }

    // At zoom 8 the lines are 128 pixels apart, still one pixel wide.
    m_control->SetZoom(8);
    shown = PaintToMemory(*m_control, 320, 160);
    for (int x : {0, 128, 256})
        EXPECT_EQ(shown.At(x, 77), c_white) << x;
    EXPECT_EQ(shown.At(0, 128), c_white);
    EXPECT_EQ(shown.At(1, 77), Hex(Picture(0, 9)));
    EXPECT_EQ(shown.At(127, 77), Hex(Picture(15, 9)));
    EXPECT_EQ(shown.At(319, 159), Hex(Picture(39, 19)));
    EXPECT_EQ(shown.At(200, 127), Hex(Picture(25, 15)));
}

TEST_F(MovieViewCtrlTest, PaintsTheMarkerAroundItsPixelAboveTheGrid)
{
    PutPicture(*m_control, 32, 32, Picture);
    m_control->SetZoom(4);
    m_control->SetGridColor(RGB(255, 255, 255));
    m_control->SetMarkerPos(2, 1);
    Painted shown = PaintToMemory(*m_control, 128, 128);
    // The marked block is pixels 8..11 x 4..7, framed from (7, 3) to (13, 9).
    for (int y = 4; y < 8; ++y) {
        for (int x = 8; x < 12; ++x)
            ASSERT_EQ(shown.At(x, y), Hex(Picture(2, 1))) << x << "," << y;
    }
    for (int i = 7; i <= 13; ++i) {
        EXPECT_EQ(shown.At(i, 3), c_red) << i;
        EXPECT_EQ(shown.At(7, i - 4), c_red) << i;
    }
    EXPECT_EQ(shown.At(12, 6), c_red);
    EXPECT_EQ(shown.At(10, 8), c_red);
    EXPECT_EQ(shown.At(20, 20), Hex(Picture(5, 5)));

    // Where the frame crosses a grid line the marker wins; the line goes on
    // beyond it. Pixel (16, 16) starts at the line x = 64, its frame's top
    // edge covers y = 62 and 63.
    m_control->SetMarkerPos(16, 16);
    shown = PaintToMemory(*m_control, 128, 128);
    EXPECT_EQ(shown.At(64, 62), c_red);
    EXPECT_EQ(shown.At(64, 63), c_red);
    EXPECT_EQ(shown.At(62, 64), c_red);
    EXPECT_EQ(shown.At(64, 100), c_white);
    EXPECT_EQ(shown.At(100, 64), c_white);

    m_control->SetMarkerPos(-1, -1);
    shown = PaintToMemory(*m_control, 128, 128);
    EXPECT_EQ(shown.At(64, 62), c_white);
    EXPECT_EQ(shown.At(12, 6), Hex(Picture(3, 1)));
}

TEST_F(MovieViewCtrlTest, ShowsOnScreenWhatItPaints)
{
    PutPicture(*m_control, 100, 60, Picture);
    m_control->SetZoom(2);
    m_control->SetGridColor(RGB(0, 0, 0));
    m_control->SetMarkerPos(10, 10);
    m_view->UpdateLayout();
    ::UpdateWindow(m_host.m_hWnd);
    PumpPending();
    const Painted expected = PaintToMemory(*m_control, 200, 120);

    RECT rect;
    ::GetWindowRect(m_control->m_hWnd, &rect);
    HDC screen = ::GetDC(nullptr);
    int matches = 0;
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{5, 7}, std::pair{32, 50}, std::pair{19, 19},
                              std::pair{21, 22}, std::pair{199, 119}, std::pair{64, 3}}) {
        const COLORREF c = ::GetPixel(screen, rect.left + x, rect.top + y);
        const uint32_t rgb = uint32_t(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
        EXPECT_EQ(rgb, expected.At(x, y)) << x << "," << y;
        matches += rgb == expected.At(x, y);
    }
    ::ReleaseDC(nullptr, screen);
    std::filesystem::create_directories(L"screenshots");
    if (matches == 7)
        SaveWindowShot(m_host.m_hWnd, L"screenshots\\viewer-control.bmp");
}

namespace {

// Asks the control for the tip's text the way its tooltip does.
std::wstring TipText(CMovieViewCtrl& control)
{
    NMTTDISPINFOW info = {};
    info.hdr.hwndFrom = control.m_hTooltip;
    info.hdr.idFrom = reinterpret_cast<UINT_PTR>(control.m_hWnd);
    info.hdr.code = TTN_GETDISPINFOW;
    info.lpszText = info.szText;
    ::SendMessageW(control.m_hWnd, WM_NOTIFY, info.hdr.idFrom, AsLParam(&info));
    return info.szText;
}

} // namespace

TEST_F(MovieViewCtrlTest, TracksTheMouseWithATipWhileTooltipsAreOn)
{
    PutPicture(*m_control, 50, 40, [](int x, int y) {
        return x == 3 && y == 1 ? Rgb{255, 128, 0} : Picture(x, y);
    });
    m_control->SetZoom(4);
    m_view->UpdateLayout();
    PumpPending();
    RECT rect;
    ::GetWindowRect(m_control->m_hWnd, &rect);
    const HWND tip = m_control->m_hTooltip;
    const HWND control = m_control->m_hWnd;

    // Off: moving over the control takes nothing.
    ::SetCursorPos(rect.left + 13, rect.top + 6);
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_FALSE(::IsWindowVisible(tip));

    m_control->EnableTooltip(true);
    ::SetCursorPos(rect.left + 14, rect.top + 6);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == control && ::IsWindowVisible(tip); }));
    EXPECT_EQ(TipText(*m_control), L"XY=(3, 1)\r\nRGB=(255, 128, 0)");
    // The tip's text area starts 20 pixels below the cursor (its border lies around it).
    const auto tipAt = [&] {
        POINT origin = {0, 0};
        ::ClientToScreen(tip, &origin);
        return origin;
    };
    EXPECT_EQ(tipAt().x, rect.left + 14);
    EXPECT_EQ(tipAt().y, rect.top + 6 + 20);

    // The tip follows the cursor.
    ::SetCursorPos(rect.left + 100, rect.top + 50);
    ASSERT_TRUE(PumpUntil([&] { return tipAt().x == rect.left + 100 && tipAt().y == rect.top + 70; }));
    EXPECT_EQ(TipText(*m_control), L"XY=(25, 12)\r\nRGB=(" + std::to_wstring(Picture(25, 12).r) + L", " +
                                        std::to_wstring(Picture(25, 12).g) + L", 90)");

    // Leaving: the first move outside hides the tip and lets the capture go.
    ::SetCursorPos(rect.left - 20, rect.top - 20);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == nullptr && !::IsWindowVisible(tip); }));

    // Back in, then tooltips off while tracking: the capture goes too.
    ::SetCursorPos(rect.left + 30, rect.top + 30);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == control; }));
    m_control->EnableTooltip(false);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindowVisible(tip); }));
}

TEST_F(MovieViewCtrlTest, TipTextIsEmptyWithoutAnImage)
{
    PutPicture(*m_control, 10, 10, Picture);
    m_control->RebuildSurface();
    m_view->UpdateLayout();
    FreeImageBuffer(m_control->GetImage());
    m_control->RebuildSurface();
    EXPECT_EQ(TipText(*m_control), L"");
}
