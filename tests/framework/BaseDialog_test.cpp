#include "BaseDialog.h"
#include "BaseWindow.h"
#include "GuiTest.h"
#include "ResourceMessage.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Seen
{
    UINT msg;
    bool bBoundHandle;  // m_hWnd already equalled the window's handle
    LPARAM lParam;
};

class CProbeDialog : public CBaseDialog
{
public:
    INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        m_seen.push_back({msg, m_hWnd == hwnd, lParam});
        if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL && m_bEndOnCancel) {
            ::EndDialog(hwnd, 42);
            return TRUE;
        }
        return CBaseDialog::DialogProc(hwnd, msg, wParam, lParam);
    }

    bool Saw(UINT msg) const
    {
        for (const Seen& s : m_seen) {
            if (s.msg == msg)
                return true;
        }
        return false;
    }

    std::vector<Seen> m_seen;
    bool m_bEndOnCancel = false;
};

} // namespace

TEST(BaseDialog, ModelessDialogNeverSeesInitDialog)
{
    CProbeDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_IMAGE, nullptr));
    ASSERT_NE(dialog.m_hWnd, nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(dialog.m_hWnd, GWLP_USERDATA), AsLParam(&dialog));
    EXPECT_FALSE(dialog.Saw(WM_INITDIALOG));
    EXPECT_FALSE(dialog.Saw(WM_SETFONT));

    ::SendMessageW(dialog.m_hWnd, WM_COMMAND, 4242, 0);
    ASSERT_FALSE(dialog.m_seen.empty());
    EXPECT_EQ(dialog.m_seen.back().msg, UINT(WM_COMMAND));
    ::DestroyWindow(dialog.m_hWnd);
}

TEST(BaseDialog, ModalDialogSeesInitDialogFirstWithItsHandleSet)
{
    CProbeDialog dialog;
    dialog.m_bEndOnCancel = true;
    CModalScript script([&] {
        if (!dialog.m_hWnd)
            return false;
        ::PostMessageW(dialog.m_hWnd, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    EXPECT_EQ(dialog.DoModal(IDD_IMAGE, nullptr), 42);
    EXPECT_FALSE(script.TimedOut());
    ASSERT_FALSE(dialog.m_seen.empty());
    EXPECT_EQ(dialog.m_seen[0].msg, UINT(WM_INITDIALOG));
    EXPECT_TRUE(dialog.m_seen[0].bBoundHandle);
    EXPECT_EQ(dialog.m_seen[0].lParam, AsLParam(&dialog));
}

TEST(BaseDialog, UnboundDialogsGetFalse)
{
    HWND hwnd = ::CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_IMAGE), nullptr, ModelessDlgProc, 0);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_USERDATA), 0);
    EXPECT_EQ(ModelessDlgProc(hwnd, WM_COMMAND, IDOK, 0), FALSE);
    EXPECT_EQ(ModalDlgProc(hwnd, WM_COMMAND, IDOK, 0), FALSE);
    EXPECT_EQ(ModalDlgProc(hwnd, WM_SIZE, 0, 0), FALSE);
    ::DestroyWindow(hwnd);
}

TEST(BaseDialog, ReportsATemplateThatDoesNotExist)
{
    CProbeDialog dialog;
    EXPECT_EQ(dialog.DoModal(9999, nullptr), -1);
    EXPECT_FALSE(dialog.Create(9999, nullptr));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_TRUE(dialog.m_seen.empty());
}

TEST(ShowResourceMessage, ShowsAtMost127CharactersWithTheDefaultCaption)
{
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                   nullptr, nullptr, g_hInstance, nullptr);
    std::wstring text, caption;
    HWND boxOwner = nullptr;
    CModalScript script([&] {
        HWND box = FindThreadWindow(L"#32770");
        if (!box)
            return false;
        text = WindowText(::GetDlgItem(box, 0xFFFF));
        caption = WindowText(box);
        boxOwner = ::GetWindow(box, GW_OWNER);
        ::SendMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        return true;
    });
    EXPECT_EQ(ShowResourceMessage(60000, owner), IDOK);
    EXPECT_FALSE(script.TimedOut());

    std::wstring expected;
    while (expected.size() < 200)
        expected += L"0123456789ABCDEFGHIJ";
    EXPECT_EQ(text, expected.substr(0, 127));
    EXPECT_FALSE(caption.empty());
    EXPECT_EQ(boxOwner, owner);
    ::DestroyWindow(owner);
}

TEST(ShowResourceMessage, ShowsTheJapaneseMessages)
{
    std::wstring text;
    CModalScript script([&] {
        HWND box = FindThreadWindow(L"#32770");
        if (!box)
            return false;
        text = WindowText(::GetDlgItem(box, 0xFFFF));
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return true;
    });
    ShowResourceMessage(IDS_NOT_BITMAP, nullptr);
    EXPECT_EQ(text, L"Bitmap ファイルではありません");
}
