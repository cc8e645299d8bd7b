// The program's resources, loaded from the test program the resource script
// is compiled into, exactly as the program loads them.

#include "BaseWindow.h"
#include "GuiTest.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::wstring LoadText(UINT id)
{
    wchar_t text[128] = {};
    ::LoadStringW(g_hInstance, id, text, ARRAYSIZE(text));
    return text;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A dialog made from a template, hidden or not, destroyed with the object.
class CTemplateDialog
{
public:
    explicit CTemplateDialog(UINT id)
        : m_hWnd(::CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(id), nullptr, PlainDialogProc, 0)) {}
    ~CTemplateDialog() { ::DestroyWindow(m_hWnd); }

    // Position and size convert separately, as the dialog manager does.
    RECT Units(int x, int y, int w, int h) const
    {
        RECT rect{x, y, w, h};
        ::MapDialogRect(m_hWnd, &rect);
        return {rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
    }

    RECT ChildRect(HWND child) const
    {
        RECT rect;
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    std::vector<HWND> Children() const
    {
        std::vector<HWND> children;
        for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
            children.push_back(child);
        return children;
    }

    HWND m_hWnd;
};

struct ControlSpec
{
    int id;
    const wchar_t* className;
    const wchar_t* text;  // null: not checked
    RECT units;           // x, y, width, height in dialog units
    DWORD style;          // bits that must be set
    DWORD exStyle;
};

void ExpectControls(const CTemplateDialog& dialog, const std::vector<ControlSpec>& specs)
{
    const std::vector<HWND> children = dialog.Children();
    ASSERT_EQ(children.size(), specs.size());
    for (size_t i = 0; i < specs.size(); ++i) {
        const ControlSpec& spec = specs[i];
        const HWND child = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " (id " << spec.id << ")");
        EXPECT_EQ(::GetDlgCtrlID(child) & 0xFFFF, spec.id & 0xFFFF);
        EXPECT_EQ(ClassName(child), spec.className);
        if (spec.text) {
            EXPECT_EQ(WindowText(child), spec.text);
        }
        DWORD style = DWORD(::GetWindowLongPtrW(child, GWL_STYLE));
        const DWORD exStyle = DWORD(::GetWindowLongPtrW(child, GWL_EXSTYLE));
        // The dialog manager draws an edit's border as a sunken client edge.
        if (ClassName(child) == L"Edit" && (exStyle & WS_EX_CLIENTEDGE))
            style |= WS_BORDER;
        EXPECT_EQ(style & spec.style, spec.style) << std::hex << style;
        EXPECT_EQ(exStyle & spec.exStyle, spec.exStyle) << std::hex << exStyle;
        if (spec.id == IDC_THRESHOLD || spec.id == IDC_THRESHOLD_SPIN)
            continue;  // the up-down control moves itself onto its buddy's right edge
        const RECT expected = dialog.Units(spec.units.left, spec.units.top, spec.units.right, spec.units.bottom);
        const RECT actual = dialog.ChildRect(child);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right, expected.right);
        EXPECT_EQ(actual.bottom, expected.bottom);
    }
}

void ExpectFont(HWND dialog)
{
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW logFont = {};
    ASSERT_NE(::GetObjectW(font, sizeof logFont, &logFont), 0);
    EXPECT_STREQ(logFont.lfFaceName, L"MS UI Gothic");
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(logFont.lfHeight, -::MulDiv(9, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
    ::ReleaseDC(nullptr, screen);
}

void ExpectClientSize(const CTemplateDialog& dialog, int widthUnits, int heightUnits)
{
    RECT client;
    ::GetClientRect(dialog.m_hWnd, &client);
    const RECT expected = dialog.Units(0, 0, widthUnits, heightUnits);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
}

} // namespace

TEST(Resources, StringTableHoldsEveryMessage)
{
    EXPECT_EQ(LoadText(IDS_SIZE_MISMATCH), L"２つのImageの幅または高さが異なります");
    EXPECT_EQ(LoadText(IDS_TOO_MANY_FILES), L"2個以上のファイルが選択されました");
    EXPECT_EQ(LoadText(IDS_UNSUPPORTED_FORMAT), L"24 bit color 非圧縮フォーマットのみサポートしています");
    EXPECT_EQ(LoadText(IDS_NOT_BITMAP), L"Bitmap ファイルではありません");
    EXPECT_EQ(LoadText(IDS_DROP_TWO_FILES), L"Drag & Drop では、2個のファイルを選択してください");
    EXPECT_EQ(LoadText(IDS_CANNOT_READ), L"ファイルを読み込めませんでした");
    EXPECT_EQ(LoadText(IDS_IMAGE_TOO_LARGE), L"画像が大きすぎます (幅と高さは 65535 ピクセルまでです)");
    EXPECT_EQ(LoadText(IDS_OUT_OF_MEMORY), L"メモリが不足しています");
}

namespace {

struct MenuSpec
{
    UINT id;  // 0 for a pop-up
    const wchar_t* text;
    std::vector<MenuSpec> items = {};
};

void ExpectMenu(HMENU menu, const std::vector<MenuSpec>& specs)
{
    ASSERT_EQ(::GetMenuItemCount(menu), int(specs.size()));
    for (size_t i = 0; i < specs.size(); ++i) {
        const MenuSpec& spec = specs[i];
        SCOPED_TRACE(testing::Message() << "item " << i);
        wchar_t text[64] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_STATE | MIIM_FTYPE;
        info.dwTypeData = text;
        info.cch = ARRAYSIZE(text);
        ASSERT_TRUE(::GetMenuItemInfoW(menu, UINT(i), TRUE, &info));
        EXPECT_STREQ(text, spec.text);
        EXPECT_EQ(info.fState & MFS_CHECKED, 0u);
        if (spec.id == 0) {
            ASSERT_NE(info.hSubMenu, nullptr);
            ExpectMenu(info.hSubMenu, spec.items);
        } else {
            EXPECT_EQ(info.hSubMenu, nullptr);
            EXPECT_EQ(info.wID, spec.id);
        }
    }
}

bool Checked(HMENU menu, UINT id)
{
    return ::GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED;
}

} // namespace

TEST(Resources, MenuHasEveryItemInOrder)
{
    HMENU menu = ::LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_MAINMENU));
    ASSERT_NE(menu, nullptr);
    ExpectMenu(menu, {
        {0, L"ファイル(&F)", {{IDM_OPEN, L"ファイルを開く(&O)..."}, {IDM_EXIT, L"終了(&X)"}}},
        {0, L"表示(&V)", {
            {IDM_SHOW_IMAGES, L"イメージ表示(&I)"},
            {0, L"拡大(&E)", {{IDM_ZOOM_1, L"等倍(&1)"}, {IDM_ZOOM_2, L"&2倍"}, {IDM_ZOOM_4, L"&4倍"}, {IDM_ZOOM_8, L"&8倍"}}},
            {IDM_TOOLTIP, L"ツールチップ表示(&T)"},
            {0, L"グリッド表示(&G)", {
                {IDM_GRID_NONE, L"なし(&N)"}, {IDM_GRID_BLACK, L"黒(&B)"}, {IDM_GRID_WHITE, L"白(&W)"},
                {IDM_GRID_RED, L"赤(&R)"}, {IDM_GRID_GREEN, L"緑(&G)"}, {IDM_GRID_BLUE, L"青(&B)"}}},
        }},
        {0, L"ヘルプ(&H)", {{IDM_ABOUT, L"バージョン情報(&A)..."}}},
    });

    // Each radio group is a contiguous range of commands: checking one by
    // command clears the others of its group and nothing else.
    ASSERT_TRUE(::CheckMenuRadioItem(menu, IDM_ZOOM_1, IDM_ZOOM_8, IDM_ZOOM_4, MF_BYCOMMAND));
    ASSERT_TRUE(::CheckMenuRadioItem(menu, IDM_GRID_NONE, IDM_GRID_BLUE, IDM_GRID_RED, MF_BYCOMMAND));
    for (UINT id = IDM_ZOOM_1; id <= IDM_ZOOM_8; ++id)
        EXPECT_EQ(Checked(menu, id), id == IDM_ZOOM_4) << id;
    for (UINT id = IDM_GRID_NONE; id <= IDM_GRID_BLUE; ++id)
        EXPECT_EQ(Checked(menu, id), id == IDM_GRID_RED) << id;
    EXPECT_EQ(IDM_ZOOM_4 - IDM_ZOOM_1, 2);
    EXPECT_EQ(IDM_GRID_RED - IDM_GRID_NONE, 3);
    EXPECT_FALSE(Checked(menu, IDM_SHOW_IMAGES));
    EXPECT_FALSE(Checked(menu, IDM_TOOLTIP));
    ::DestroyMenu(menu);
}

TEST(Resources, MainDialogHasItsControlsInTabOrder)
{
    CTemplateDialog dialog(IDD_MAIN);
    ASSERT_NE(dialog.m_hWnd, nullptr);
    EXPECT_EQ(WindowText(dialog.m_hWnd), L"Tobrel");
    const DWORD style = DWORD(::GetWindowLongPtrW(dialog.m_hWnd, GWL_STYLE));
    const DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | DS_CENTERMOUSE;
    EXPECT_EQ(style & required, required) << std::hex << style;
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
    ExpectFont(dialog.m_hWnd);
    ExpectClientSize(dialog, 177, 303);

    ExpectControls(dialog, {
        {-1, L"Static", L"しきい値 : 誤差±", {7, 14, 50, 8}, SS_LEFT, 0},
        {IDC_THRESHOLD, L"Edit", nullptr, {58, 12, 30, 14}, WS_BORDER | ES_AUTOHSCROLL | ES_READONLY | ES_NUMBER, 0},
        {IDC_THRESHOLD_SPIN, L"msctls_updown32", nullptr, {78, 12, 10, 14},
         UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS, 0},
        {-1, L"Static", L"以上を抽出する", {92, 14, 44, 8}, SS_LEFT, 0},
        {IDC_RECOMPARE, L"Button", L"再比較", {142, 12, 30, 14}, WS_DISABLED | BS_PUSHBUTTON, 0},
        {IDC_DIFF_COUNT, L"Edit", L"", {7, 33, 31, 14}, WS_BORDER | ES_AUTOHSCROLL | ES_READONLY, 0},
        {-1, L"Static", L"箇所の違いがあります", {42, 36, 70, 8}, SS_LEFT, 0},
        {IDC_DIFF_LIST, L"SysListView32", nullptr, {0, 54, 177, 249},
         LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_ALIGNLEFT | LVS_OWNERDATA | LVS_NOCOLUMNHEADER,
         WS_EX_CLIENTEDGE},
    });

    // The spinner sits on its buddy's right edge, where the template ends it.
    const HWND edit = ::GetDlgItem(dialog.m_hWnd, IDC_THRESHOLD);
    const HWND spinner = ::GetDlgItem(dialog.m_hWnd, IDC_THRESHOLD_SPIN);
    EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageW(spinner, UDM_GETBUDDY, 0, 0)), edit);
    const RECT units = dialog.Units(58, 12, 30, 14);
    const RECT editRect = dialog.ChildRect(edit);
    const RECT spinRect = dialog.ChildRect(spinner);
    EXPECT_EQ(editRect.left, units.left);
    EXPECT_NEAR(spinRect.right, units.right, 2);  // a themed up-down may leave the buddy's border free
    EXPECT_EQ(spinRect.top, units.top);
    EXPECT_EQ(spinRect.bottom, units.bottom);
    EXPECT_LE(editRect.right, spinRect.left + 2);
}

TEST(Resources, ImageDialogIsAnEmptyHiddenFrame)
{
    CTemplateDialog dialog(IDD_IMAGE);
    ASSERT_NE(dialog.m_hWnd, nullptr);
    EXPECT_FALSE(::IsWindowVisible(dialog.m_hWnd));
    EXPECT_EQ(WindowText(dialog.m_hWnd), L"");
    EXPECT_TRUE(dialog.Children().empty());
    const DWORD style = DWORD(::GetWindowLongPtrW(dialog.m_hWnd, GWL_STYLE));
    const DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    EXPECT_EQ(style & required, required) << std::hex << style;
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_VISIBLE), 0u);
    ExpectFont(dialog.m_hWnd);
    ExpectClientSize(dialog, 397, 265);
}

TEST(Resources, AboutBoxShowsIconVersionAndOk)
{
    CTemplateDialog dialog(IDD_ABOUTBOX);
    ASSERT_NE(dialog.m_hWnd, nullptr);
    EXPECT_EQ(WindowText(dialog.m_hWnd), L"バージョン情報");
    EXPECT_TRUE(::GetWindowLongPtrW(dialog.m_hWnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    ExpectFont(dialog.m_hWnd);
    ExpectClientSize(dialog, 207, 94);

    const std::vector<HWND> children = dialog.Children();
    ASSERT_EQ(children.size(), 5u);
    EXPECT_TRUE(::GetWindowLongPtrW(children[0], GWL_STYLE) & SS_ICON);
    EXPECT_NE(::SendMessageW(children[0], STM_GETICON, 0, 0), 0);
    EXPECT_EQ(WindowText(children[1]), L"Tobrel Version 1.0");
    EXPECT_FALSE(WindowText(children[2]).empty());
    EXPECT_FALSE(WindowText(children[3]).empty());
    const int x[] = {14, 49, 49, 49, 83};
    const int y[] = {9, 10, 20, 43, 68};
    for (size_t i = 0; i < children.size(); ++i) {
        const RECT at = dialog.Units(x[i], y[i], 0, 0);
        const RECT actual = dialog.ChildRect(children[i]);
        EXPECT_EQ(actual.left, at.left) << i;
        EXPECT_EQ(actual.top, at.top) << i;
    }
    EXPECT_EQ(::GetDlgCtrlID(children[4]), IDOK);
    EXPECT_EQ(WindowText(children[4]), L"OK");
    EXPECT_TRUE(::GetWindowLongPtrW(children[4], GWL_STYLE) & BS_DEFPUSHBUTTON);
    const RECT button = dialog.Units(83, 68, 41, 18);
    const RECT actual = dialog.ChildRect(children[4]);
    EXPECT_EQ(actual.right, button.right);
    EXPECT_EQ(actual.bottom, button.bottom);
}

TEST(Resources, IconIsOne48PixelImageWithAlpha)
{
    HRSRC group = ::FindResourceW(g_hInstance, MAKEINTRESOURCEW(IDI_TOBREL), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(g_hInstance, group)));
    const auto word = [&](int at) { return dir[at] | dir[at + 1] << 8; };
    EXPECT_EQ(word(2), 1);  // an icon
    ASSERT_EQ(word(4), 1);  // one image
    EXPECT_EQ(dir[6], 48);
    EXPECT_EQ(dir[7], 48);
    EXPECT_EQ(word(6 + 6), 32);  // bits per pixel
    const int imageId = word(6 + 12);

    HRSRC image = ::FindResourceW(g_hInstance, MAKEINTRESOURCEW(imageId), RT_ICON);
    ASSERT_NE(image, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(g_hInstance, image)));
    EXPECT_EQ(header->biWidth, 48);
    EXPECT_EQ(header->biHeight, 96);  // colour rows and mask rows
    EXPECT_EQ(header->biBitCount, 32);
    EXPECT_NE(::LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_TOBREL)), nullptr);
}

TEST(Resources, VersionRecordIsJapaneseUnicode1000)
{
    HRSRC found = ::FindResourceW(g_hInstance, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    ASSERT_NE(found, nullptr);
    const DWORD size = ::SizeofResource(g_hInstance, found);
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(g_hInstance, found)));
    std::vector<BYTE> copy(data, data + size);  // VerQueryValueW wants writable memory

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(copy.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);
}

TEST(Resources, ManifestAsksForCommonControls6AndNoDpiAwareness)
{
    HRSRC found = ::FindResourceW(g_hInstance, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(g_hInstance, found)));
    const std::string manifest(data, ::SizeofResource(g_hInstance, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("asInvoker"), std::string::npos);
    EXPECT_NE(manifest.find("supportedOS"), std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
}

TEST(Resources, IdsThatMustDifferDiffer)
{
    const std::vector<int> commands = {IDM_ABOUT, IDM_EXIT, IDM_OPEN, IDM_SHOW_IMAGES, IDM_ZOOM_1, IDM_ZOOM_2,
                                       IDM_ZOOM_4, IDM_ZOOM_8, IDM_TOOLTIP, IDM_GRID_NONE, IDM_GRID_BLACK,
                                       IDM_GRID_WHITE, IDM_GRID_RED, IDM_GRID_GREEN, IDM_GRID_BLUE,
                                       IDC_DIFF_LIST, IDC_DIFF_COUNT, IDC_THRESHOLD, IDC_THRESHOLD_SPIN,
                                       IDC_RECOMPARE, IDOK, IDCANCEL};
    EXPECT_EQ(std::set<int>(commands.begin(), commands.end()).size(), commands.size());
    const std::vector<int> strings = {IDS_SIZE_MISMATCH, IDS_TOO_MANY_FILES, IDS_UNSUPPORTED_FORMAT, IDS_NOT_BITMAP,
                                      IDS_DROP_TWO_FILES, IDS_CANNOT_READ, IDS_IMAGE_TOO_LARGE, IDS_OUT_OF_MEMORY};
    EXPECT_EQ(std::set<int>(strings.begin(), strings.end()).size(), strings.size());
    const std::vector<int> dialogs = {IDD_ABOUTBOX, IDD_IMAGE, IDD_MAIN};
    EXPECT_EQ(std::set<int>(dialogs.begin(), dialogs.end()).size(), dialogs.size());
}
