// The image viewer in real windows: an image window (with its client view and
// pixel view control) owned by a stand-in for the main window.

#include "BmpBuilder.h"
#include "ClientView.h"
#include "GuiTest.h"
#include "ImageDlg.h"
#include "MovieViewCtrl.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

// Never pure white or pure red, so grid and marker stand out.
Rgb Shade(int x, int y)
{
    return {uint8_t(20 + x % 200), uint8_t(40 + y % 200), 90};
}

constexpr uint32_t c_white = 0xFFFFFF;
constexpr uint32_t c_red = 0xFF0000;

uint32_t Hex(Rgb c)
{
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

// What PaintContent draws, as 0xRRGGBB, row by row from the top.
struct Painted
{
    int width;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

class Viewer : public testing::Test
{
protected:
    void SetUp() override
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = g_hInstance;
        wc.lpszClassName = L"TobrelTestOwner";
        ::RegisterClassW(&wc);
        m_hOwner = ::CreateWindowExW(0, L"TobrelTestOwner", L"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                     nullptr, g_hInstance, nullptr);
        s_commands.clear();
        ASSERT_TRUE(m_dialog.Create(IDD_IMAGE, m_hOwner));
        ::SetWindowPos(m_dialog.m_hWnd, nullptr, 40, 40, 900, 700, SWP_NOZORDER);
    }

    // Takes the owned image window with it; the object goes after.
    void TearDown() override { ::DestroyWindow(m_hOwner); }

    CClientView& View() { return *m_dialog.m_pClientView; }
    CMovieViewCtrl& Control() { return View().ViewCtrl(); }

    // Replaces the control's image as a load would (the control frees it).
    void PutPicture(int width, int height, const PixelFn& pixel = Shade)
    {
        MemoryImage source(width, height, pixel);
        const ImageBuffer image{width, height, source.stride, static_cast<unsigned char*>(std::malloc(source.bytes.size()))};
        std::copy(source.bytes.begin(), source.bytes.end(), image.pixels);
        Control().SetImage(image);
    }

    // An image of the given enlarged size, then the view sized, which lays
    // it out as an image window's resize does; first so large that no bar
    // of an earlier layout is left.
    void Show(int width, int height, int viewWidth, int viewHeight, int zoom = 1)
    {
        PutPicture(width / zoom, height / zoom);
        Control().SetZoom(zoom);
        Control().RebuildSurface();
        ::SetWindowPos(View().m_hWnd, nullptr, 0, 0, 30000, 30000, SWP_NOZORDER);
        ::SetWindowPos(View().m_hWnd, nullptr, 0, 0, viewWidth, viewHeight, SWP_NOZORDER);
    }

    Painted Paint(int width, int height)
    {
        return {width, CapturePaint([this](HDC dc) { Control().PaintContent(dc); }, width, height)};
    }

    POINT ControlAt() { return {RectIn(Control().m_hWnd, View().m_hWnd).left, RectIn(Control().m_hWnd, View().m_hWnd).top}; }

    SIZE ControlSize()
    {
        const RECT rect = RectIn(Control().m_hWnd, View().m_hWnd);
        return {rect.right - rect.left, rect.bottom - rect.top};
    }

    bool HasBar(int bar)
    {
        return ::GetWindowLongPtrW(View().m_hWnd, GWL_STYLE) & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL);
    }

    SCROLLINFO Bar(int bar)
    {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        ::GetScrollInfo(View().m_hWnd, bar, &info);
        return info;
    }

    int Scroll(int bar, UINT code, UINT thumb = 0)
    {
        ::SendMessageW(View().m_hWnd, bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, MAKEWPARAM(code, thumb), 0);
        return Bar(bar).nPos;
    }

    std::wstring StatusText()
    {
        wchar_t text[128] = {};
        ::SendMessageW(m_dialog.m_hStatusBar, SB_GETTEXTW, 0, AsLParam(text));
        return text;
    }

    HWND m_hOwner = nullptr;
    CImageDlg m_dialog;
};

} // namespace

TEST_F(Viewer, ImageWindowLaysOutItsViewAboveA28PixelStatusBand)
{
    EXPECT_FALSE(::IsWindowVisible(m_dialog.m_hWnd));
    EXPECT_EQ(::GetWindow(m_dialog.m_hWnd, GW_OWNER), m_hOwner);
    EXPECT_EQ(ClassName(View().m_hWnd), L"ClientView");
    EXPECT_EQ(ClassName(Control().m_hWnd), L"MovieViewCtrl");
    EXPECT_EQ(StatusText(), L"");
    RECT client;
    ::GetClientRect(m_dialog.m_hWnd, &client);
    const RECT view = RectIn(View().m_hWnd, m_dialog.m_hWnd);
    EXPECT_EQ(view.left, 0);
    EXPECT_EQ(view.top, 0);
    EXPECT_EQ(view.right, client.right);
    EXPECT_EQ(view.bottom, client.bottom - 28);
    const RECT status = RectIn(m_dialog.m_hStatusBar, m_dialog.m_hWnd);
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_GE(status.top, client.bottom - 28);

    // Lower than the band: the view gets no height, never a negative one.
    ::SetWindowPos(m_dialog.m_hWnd, nullptr, 0, 0, 300, 20, SWP_NOMOVE | SWP_NOZORDER);
    const RECT flat = RectIn(View().m_hWnd, m_dialog.m_hWnd);
    EXPECT_EQ(flat.bottom - flat.top, 0);
}

TEST_F(Viewer, ImageWindowDescribesTheMarkedPixelInItsOwnImage)
{
    PutPicture(8, 8, [](int x, int y) { return x == 3 && y == 5 ? Rgb{255, 0, 0} : Rgb{uint8_t(x), uint8_t(y), 7}; });
    struct Case { int x, y; std::wstring text; };
    const Case cases[] = {
        {3, 5, L"XY=(3, 5), RGB=(255, 0, 0)"},
        {0, 7, L"XY=(0, 7), RGB=(0, 7, 7)"},
        {7, 0, L"XY=(7, 0), RGB=(7, 0, 7)"},
        {100, 100, L"XY=(100, 100), RGB=(0, 0, 0)"},
        {5, -1, L""},
        {-1, -1, L""},
        {65535, 65535, L"XY=(65535, 65535), RGB=(0, 0, 0)"},
    };
    for (const Case& c : cases) {
        m_dialog.MarkPixel(c.x, c.y);
        EXPECT_EQ(StatusText(), c.text);
        EXPECT_EQ(Control().GetMarkerPos().x, c.x);
    }
}

TEST_F(Viewer, ClosingAnImageWindowAsksItsOwnerToHideTheImages)
{
    ::ShowWindow(m_dialog.m_hWnd, SW_SHOW);
    ::SendMessageW(m_dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_EQ(s_commands.size(), 1u);
    EXPECT_EQ(s_commands[0].first, WPARAM(IDM_SHOW_IMAGES));
    EXPECT_EQ(s_commands[0].second, 0);
    EXPECT_TRUE(::IsWindow(m_dialog.m_hWnd));
    ::SendMessageW(m_dialog.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ::ShowWindow(m_dialog.m_hWnd, SW_RESTORE);
    EXPECT_EQ(s_commands.size(), 1u);
}

TEST_F(Viewer, ControlTakesTheSizeOfTheEnlargedImageAndKeepsItWithoutOne)
{
    PutPicture(5, 3);
    Control().SetZoom(2);
    EXPECT_EQ(ControlSize().cx, 10);
    EXPECT_EQ(ControlSize().cy, 6);
    const Painted shown = Paint(10, 6);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(shown.At(x, y), Hex(Shade(x / 2, y / 2))) << x << "," << y;
    }
    EXPECT_FALSE(Control().RebuildSurface());  // the same size again
    PutPicture(6, 3);
    EXPECT_TRUE(Control().RebuildSurface());

    // Without an image (or with a negative side) nothing is painted and the
    // control keeps its size.
    for (const ImageBuffer empty : {ImageBuffer{}, ImageBuffer{4, -4, 12, nullptr}}) {
        Control().SetImage(empty);
        EXPECT_FALSE(Control().RebuildSurface());
        EXPECT_EQ(ControlSize().cx, 12);
        EXPECT_EQ(Paint(4, 4).At(1, 1), 0x010203u);
    }
    Control().SetImage(ImageBuffer{});
}

TEST_F(Viewer, ControlPaintsTheGridEverySixteenImagePixels)
{
    PutPicture(40, 20);
    Control().SetGridColor(RGB(255, 255, 255));
    Painted shown = Paint(40, 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(shown.At(x, y), x % 16 == 0 || y % 16 == 0 ? c_white : Hex(Shade(x, y))) << x << "," << y;
    }

    // At zoom 8 the lines are 128 pixels apart, still one pixel wide.
    Control().SetZoom(8);
    shown = Paint(320, 160);
    for (int x : {0, 128, 256})
        EXPECT_EQ(shown.At(x, 77), c_white) << x;
    EXPECT_EQ(shown.At(16, 77), Hex(Shade(2, 9)));
    EXPECT_EQ(shown.At(77, 16), Hex(Shade(9, 2)));
    EXPECT_EQ(shown.At(0, 128), c_white);
    EXPECT_EQ(shown.At(1, 77), Hex(Shade(0, 9)));
    EXPECT_EQ(shown.At(127, 77), Hex(Shade(15, 9)));
    EXPECT_EQ(shown.At(200, 127), Hex(Shade(25, 15)));

    Control().SetGridColor(RGB(0, 255, 0));
    EXPECT_EQ(Paint(320, 160).At(128, 77), 0x00FF00u);
    Control().SetGridColor(CMovieViewCtrl::c_crNoGrid);
    EXPECT_EQ(Paint(320, 160).At(128, 77), Hex(Shade(16, 9)));
}

TEST_F(Viewer, ControlPaintsTheMarkerAroundItsPixelAboveTheGrid)
{
    PutPicture(32, 32);
    Control().SetZoom(4);
    Control().SetGridColor(RGB(255, 255, 255));
    Control().SetMarkerPos(2, 1);
    Painted shown = Paint(128, 128);
    // The marked block is pixels 8..11 x 4..7, framed from (7, 3) to (13, 9).
    for (int y = 4; y < 8; ++y) {
        for (int x = 8; x < 12; ++x)
            ASSERT_EQ(shown.At(x, y), Hex(Shade(2, 1))) << x << "," << y;
    }
    for (int i = 7; i <= 13; ++i) {
        EXPECT_EQ(shown.At(i, 3), c_red) << i;
        EXPECT_EQ(shown.At(7, i - 4), c_red) << i;
    }
    EXPECT_EQ(shown.At(12, 6), c_red);
    EXPECT_EQ(shown.At(10, 8), c_red);
    EXPECT_EQ(shown.At(20, 20), Hex(Shade(5, 5)));

    // Where the frame crosses a grid line the marker wins; the line goes on
    // beyond it.
    Control().SetMarkerPos(16, 16);
    shown = Paint(128, 128);
    EXPECT_EQ(shown.At(64, 62), c_red);
    EXPECT_EQ(shown.At(62, 64), c_red);
    EXPECT_EQ(shown.At(64, 100), c_white);

    // In the first column too.
    Control().SetMarkerPos(0, 1);
    shown = Paint(128, 128);
    EXPECT_EQ(shown.At(4, 6), c_red);
    EXPECT_EQ(shown.At(2, 8), c_red);

    Control().SetMarkerPos(-1, -1);
    shown = Paint(128, 128);
    EXPECT_EQ(shown.At(64, 62), c_white);
    EXPECT_EQ(shown.At(12, 6), Hex(Shade(3, 1)));
}

TEST_F(Viewer, ControlShowsOnScreenWhatItPaints)
{
    ::ShowWindow(m_dialog.m_hWnd, SW_SHOW);
    Show(200, 120, 860, 600, 2);
    Control().SetGridColor(RGB(0, 0, 0));
    Control().SetMarkerPos(10, 10);
    ::UpdateWindow(m_dialog.m_hWnd);
    PumpPending();
    const Painted expected = Paint(200, 120);
    RECT rect;
    ::GetWindowRect(Control().m_hWnd, &rect);
    HDC screen = ::GetDC(nullptr);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{5, 7}, std::pair{32, 50}, std::pair{19, 19},
                              std::pair{21, 22}, std::pair{199, 119}, std::pair{64, 3}}) {
        const COLORREF c = ::GetPixel(screen, rect.left + x, rect.top + y);
        EXPECT_EQ(uint32_t(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c), expected.At(x, y)) << x << "," << y;
    }
    ::ReleaseDC(nullptr, screen);
}

TEST_F(Viewer, ControlTracksTheMouseWithATipWhileTooltipsAreOn)
{
    ::ShowWindow(m_dialog.m_hWnd, SW_SHOW);
    PutPicture(50, 40, [](int x, int y) { return x == 3 && y == 1 ? Rgb{255, 128, 0} : Shade(x, y); });
    Control().SetZoom(4);
    View().UpdateLayout();
    PumpPending();
    RECT rect;
    ::GetWindowRect(Control().m_hWnd, &rect);
    const HWND tip = Control().GetTooltip();
    const HWND control = Control().m_hWnd;
    const auto tipText = [&] {
        NMTTDISPINFOW info = {};
        info.hdr = {tip, reinterpret_cast<UINT_PTR>(control), UINT(TTN_GETDISPINFOW)};
        info.lpszText = info.szText;
        ::SendMessageW(control, WM_NOTIFY, info.hdr.idFrom, AsLParam(&info));
        return std::wstring(info.szText);
    };
    // The tip's text area starts 20 pixels below the cursor (its border lies around it).
    const auto tipAt = [&] {
        POINT origin = {0, 0};
        ::ClientToScreen(tip, &origin);
        return origin;
    };

    // Off: moving over the control takes nothing.
    ::SetCursorPos(rect.left + 13, rect.top + 6);
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_FALSE(::IsWindowVisible(tip));

    Control().EnableTooltip(true);
    ::SetCursorPos(rect.left + 14, rect.top + 6);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == control && ::IsWindowVisible(tip); }));
    EXPECT_EQ(tipText(), L"XY=(3, 1)\r\nRGB=(255, 128, 0)");
    EXPECT_EQ(tipAt().x, rect.left + 14);
    EXPECT_EQ(tipAt().y, rect.top + 6 + 20);

    ::SetCursorPos(rect.left + 100, rect.top + 50);
    ASSERT_TRUE(PumpUntil([&] { return tipAt().x == rect.left + 100 && tipAt().y == rect.top + 70; }));
    EXPECT_EQ(tipText(), L"XY=(25, 12)\r\nRGB=(" + std::to_wstring(Shade(25, 12).r) + L", " +
                             std::to_wstring(Shade(25, 12).g) + L", 90)");

    // Leaving: the first move outside hides the tip and lets the capture go.
    ::SetCursorPos(rect.left - 20, rect.top - 20);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == nullptr && !::IsWindowVisible(tip); }));

    // Back in, then tooltips off while tracking: the capture goes too.
    ::SetCursorPos(rect.left + 30, rect.top + 30);
    ASSERT_TRUE(PumpUntil([&] { return ::GetCapture() == control; }));
    Control().EnableTooltip(false);
    EXPECT_EQ(::GetCapture(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindowVisible(tip); }));

    // Without an image the tip has nothing to say.
    Control().SetImage(ImageBuffer{});
    Control().RebuildSurface();
    EXPECT_EQ(tipText(), L"");
}

// Centred where smaller, a bar from two pixels over; with one bar the other
// axis keeps the placement computed from the whole client height.
TEST_F(Viewer, ClientViewCentresOrScrollsEachAxis)
{
    struct Case { int width, height, viewWidth, viewHeight; POINT at; bool horizontal, vertical; };
    const Case cases[] = {
        {101, 51, 200, 200, {49, 74}, false, false},
        {201, 100, 200, 200, {0, 50}, false, false},
        {202, 100, 200, 200, {0, 50}, true, false},
        {500, 300, 400, 400, {0, 50}, true, false},
        {300, 500, 400, 400, {50, 0}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.viewWidth << "x" << c.viewHeight);
        Show(c.width, c.height, c.viewWidth, c.viewHeight);
        EXPECT_EQ(ControlAt().x, c.at.x);
        EXPECT_EQ(ControlAt().y, c.at.y);
        EXPECT_EQ(HasBar(SB_HORZ), c.horizontal);
        EXPECT_EQ(HasBar(SB_VERT), c.vertical);
    }
    Show(500, 300, 400, 400);
    const SCROLLINFO bar = Bar(SB_HORZ);
    EXPECT_EQ(bar.nMax, 500);
    EXPECT_EQ(bar.nPage, 400u);
    EXPECT_EQ(bar.nPos, 0);
}

TEST_F(Viewer, ClientViewCarriesOutEveryScrollCodeWithinTheRange)
{
    Show(1000, 100, 400, 300);
    ASSERT_TRUE(HasBar(SB_HORZ));
    struct Step { UINT code, thumb; int position; };
    const Step steps[] = {
        {SB_LINERIGHT, 0, 16}, {SB_PAGERIGHT, 0, 416}, {SB_LINELEFT, 0, 400}, {SB_THUMBTRACK, 123, 123},
        {SB_THUMBPOSITION, 130, 130}, {SB_LEFT, 0, 114}, {SB_RIGHT, 0, 130}, {SB_ENDSCROLL, 0, 130},
        {9, 0, 130}, {SB_PAGERIGHT, 0, 530}, {SB_PAGERIGHT, 0, 600}, {SB_THUMBTRACK, 5, 5}, {SB_LINELEFT, 0, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "code " << s.code << " to " << s.position);
        EXPECT_EQ(Scroll(SB_HORZ, s.code, s.thumb), s.position);
        EXPECT_EQ(ControlAt().x, -s.position);
        EXPECT_EQ(ControlAt().y, 100);  // the other axis stays
    }
    // A layout puts the position back at 0.
    Scroll(SB_HORZ, SB_PAGERIGHT);
    View().UpdateLayout();
    EXPECT_EQ(Bar(SB_HORZ).nPos, 0);
    EXPECT_EQ(ControlAt().x, 0);

    // At zoom 4 a line is 16 image pixels: 64.
    Show(2000, 2000, 400, 300, 4);
    EXPECT_EQ(Scroll(SB_VERT, SB_LINEDOWN), 64);
    EXPECT_EQ(Scroll(SB_HORZ, SB_LINERIGHT), 64);
    EXPECT_EQ(ControlAt().x, -64);
    EXPECT_EQ(ControlAt().y, -64);
}

// (Windows keep 16-bit positions under Wine, so the control itself cannot
// move that far left; the position is what this guards.)
TEST_F(Viewer, ClientViewFollowsTheThumbBeyondSixteenBits)
{
    Show(70000, 100, 400, 300);
    ASSERT_TRUE(HasBar(SB_HORZ));
    // A drag's tracking position is what the bar reports, all 32 bits of it;
    // the message carries only the low 16.
    SCROLLINFO track = {};
    track.cbSize = sizeof track;
    track.fMask = SIF_POS;
    track.nPos = 66000;
    ::SetScrollInfo(View().m_hWnd, SB_HORZ, &track, FALSE);
    ASSERT_EQ(Bar(SB_HORZ).nTrackPos, 66000);
    EXPECT_EQ(Scroll(SB_HORZ, SB_THUMBTRACK, 66000 & 0xFFFF), 66000);
}

TEST_F(Viewer, ClientViewDoesNothingWithoutAnImage)
{
    ::SetWindowPos(View().m_hWnd, nullptr, 0, 0, 300, 200, SWP_NOZORDER);
    View().UpdateLayout();
    EXPECT_FALSE(HasBar(SB_HORZ));
    EXPECT_FALSE(HasBar(SB_VERT));
    EXPECT_EQ(ControlAt().x, 0);
    EXPECT_EQ(ControlAt().y, 0);
}
