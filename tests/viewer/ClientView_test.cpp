#include "ClientView.h"
#include "GuiTest.h"
#include "MovieViewCtrl.h"
#include "ViewerTest.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class ClientViewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_view = std::make_unique<CClientView>();
        m_view->Create(WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_host.m_hWnd);
        m_control = m_view->m_pViewCtrl;
    }

    // An image of the given enlarged size, then the view sized, which lays
    // it out as an image window's resize does.
    void Show(int width, int height, int viewWidth, int viewHeight, int zoom = 1)
    {
        PutPicture(*m_control, width / zoom, height / zoom, Gradient);
        m_control->SetZoom(zoom);
        m_control->RebuildSurface();
        ::SetWindowPos(m_view->m_hWnd, nullptr, 0, 0, viewWidth, viewHeight, SWP_NOZORDER);
    }

    POINT ControlAt() const
    {
        const RECT rect = RectIn(m_control->m_hWnd, m_view->m_hWnd);
        return {rect.left, rect.top};
    }

    bool HasBar(int bar) const
    {
        const LONG_PTR style = ::GetWindowLongPtrW(m_view->m_hWnd, GWL_STYLE);
        return style & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL);
    }

    SCROLLINFO Bar(int bar) const
    {
        SCROLLINFO info = {};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        ::GetScrollInfo(m_view->m_hWnd, bar, &info);
        return info;
    }

    int Scroll(int bar, UINT code, UINT thumb = 0)
    {
        ::SendMessageW(m_view->m_hWnd, bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, MAKEWPARAM(code, thumb), 0);
        return Bar(bar).nPos;
    }

    CHostWindow m_host;
    std::unique_ptr<CClientView> m_view;
    CMovieViewCtrl* m_control = nullptr;
};

} // namespace

TEST_F(ClientViewTest, CentresAnImageSmallerThanTheView)
{
    Show(101, 51, 200, 200);
    EXPECT_EQ(ControlAt().x, 49);  // (200 - 101) / 2, truncated
    EXPECT_EQ(ControlAt().y, 74);
    EXPECT_FALSE(HasBar(SB_HORZ));
    EXPECT_FALSE(HasBar(SB_VERT));
}

TEST_F(ClientViewTest, ShowsABarOnlyFromTwoPixelsOver)
{
    Show(201, 100, 200, 200);  // (200 - 201) / 2 is 0
    EXPECT_EQ(ControlAt().x, 0);
    EXPECT_FALSE(HasBar(SB_HORZ));
    Show(202, 100, 200, 200);
    m_view->UpdateLayout();
    EXPECT_TRUE(HasBar(SB_HORZ));
    EXPECT_FALSE(HasBar(SB_VERT));
}

// The bar takes part of the height, and the nested layout for the smaller
// height is overridden by the outer one, which read 400.
TEST_F(ClientViewTest, ScrollsOneAxisAndCentresTheOther)
{
    Show(500, 300, 400, 400);
    ASSERT_TRUE(HasBar(SB_HORZ));
    EXPECT_FALSE(HasBar(SB_VERT));
    const SCROLLINFO bar = Bar(SB_HORZ);
    EXPECT_EQ(bar.nMin, 0);
    EXPECT_EQ(bar.nMax, 500);
    EXPECT_EQ(bar.nPage, 400u);
    EXPECT_EQ(bar.nPos, 0);
    EXPECT_EQ(ControlAt().x, 0);
    EXPECT_EQ(ControlAt().y, 50);
}

TEST_F(ClientViewTest, CarriesOutEveryScrollCodeWithinTheRange)
{
    Show(1000, 100, 400, 300);
    ASSERT_TRUE(HasBar(SB_HORZ));
    EXPECT_EQ(Scroll(SB_HORZ, SB_LINERIGHT), 16);
    EXPECT_EQ(ControlAt().x, -16);
    EXPECT_EQ(ControlAt().y, 100);  // the other axis stays
    EXPECT_EQ(Scroll(SB_HORZ, SB_PAGERIGHT), 416);
    EXPECT_EQ(Scroll(SB_HORZ, SB_LINELEFT), 400);
    EXPECT_EQ(Scroll(SB_HORZ, SB_THUMBTRACK, 123), 123);
    EXPECT_EQ(ControlAt().x, -123);
    EXPECT_EQ(Scroll(SB_HORZ, SB_THUMBPOSITION, 130), 130);
    EXPECT_EQ(Scroll(SB_HORZ, SB_LEFT), 114);   // one line, not to the start
    EXPECT_EQ(Scroll(SB_HORZ, SB_RIGHT), 130);  // one line, not to the end
    EXPECT_EQ(Scroll(SB_HORZ, SB_ENDSCROLL), 130);
    EXPECT_EQ(ControlAt().x, -130);
    EXPECT_EQ(Scroll(SB_HORZ, 9), 130);
    EXPECT_EQ(Scroll(SB_HORZ, SB_PAGERIGHT), 530);
    EXPECT_EQ(Scroll(SB_HORZ, SB_PAGERIGHT), 600);  // clamped at W - CW
    EXPECT_EQ(ControlAt().x, -600);
    EXPECT_EQ(Scroll(SB_HORZ, SB_THUMBTRACK, 5), 5);
    EXPECT_EQ(Scroll(SB_HORZ, SB_LINELEFT), 0);  // clamped at 0
    EXPECT_EQ(ControlAt().x, 0);

    // A layout puts the position back at 0.
    Scroll(SB_HORZ, SB_PAGERIGHT);
    m_view->UpdateLayout();
    EXPECT_EQ(Bar(SB_HORZ).nPos, 0);
    EXPECT_EQ(ControlAt().x, 0);
}

TEST_F(ClientViewTest, StepsSixteenImagePixelsAtEveryZoom)
{
    Show(2000, 2000, 400, 300, 4);
    ASSERT_TRUE(HasBar(SB_VERT));
    EXPECT_EQ(Scroll(SB_VERT, SB_LINEDOWN), 64);
    EXPECT_EQ(ControlAt().y, -64);
    EXPECT_EQ(Scroll(SB_HORZ, SB_LINERIGHT), 64);
    EXPECT_EQ(ControlAt().x, -64);
    EXPECT_EQ(ControlAt().y, -64);
}

// (Windows keep 16-bit positions under Wine, so the control itself cannot
// move that far left; the position is what this guards.)
TEST_F(ClientViewTest, FollowsTheThumbBeyondSixteenBits)
{
    Show(70000, 100, 400, 300);
    ASSERT_TRUE(HasBar(SB_HORZ));
    // A drag's tracking position is what the bar reports, all 32 bits of it;
    // the message carries only the low 16.
    SCROLLINFO track = {};
    track.cbSize = sizeof track;
    track.fMask = SIF_POS;
    track.nPos = 66000;
    ::SetScrollInfo(m_view->m_hWnd, SB_HORZ, &track, FALSE);
    SCROLLINFO now = Bar(SB_HORZ);
    ASSERT_EQ(now.nTrackPos, 66000);
    EXPECT_EQ(Scroll(SB_HORZ, SB_THUMBTRACK, 66000 & 0xFFFF), 66000);
}

TEST_F(ClientViewTest, DoesNothingWithoutAnImage)
{
    ::SetWindowPos(m_view->m_hWnd, nullptr, 0, 0, 300, 200, SWP_NOZORDER);
    m_view->UpdateLayout();
    EXPECT_FALSE(HasBar(SB_HORZ));
    EXPECT_FALSE(HasBar(SB_VERT));
    EXPECT_EQ(ControlAt().x, 0);
    EXPECT_EQ(ControlAt().y, 0);
}
