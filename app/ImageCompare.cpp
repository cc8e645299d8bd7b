#include "ImageCompare.h"

#include "AboutDialog.h"
#include "BaseWindow.h"
#include "BmpLoader.h"
#include "ClientView.h"
#include "DiffScan.h"
#include "ImageDlg.h"
#include "MovieViewCtrl.h"
#include "ResourceMessage.h"
#include "resource.h"

#include <commdlg.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// The list fills the client area below the controls of the first rows.
constexpr int c_nListTop = 81;

// The second image window stands this far right of and below the first.
constexpr int c_nSecondWindowOffset = 50;

// The open dialog may return the folder and every chosen name in one buffer;
// this holds any selection of two files that the system can name.
constexpr size_t c_cchSelection = 32768;

constexpr int c_anZoom[] = {1, 2, 4, 8};
constexpr COLORREF c_acrGrid[] = {CMovieViewCtrl::c_crNoGrid, RGB(0, 0, 0), RGB(255, 255, 255),
                                  RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};

// The text of the row last asked for; the list view copies it at once.
wchar_t s_szRowText[32];

CMovieViewCtrl& ViewCtrl(CImageDlg& dialog)
{
    return dialog.m_pClientView->ViewCtrl();
}

bool IsChecked(HMENU menu, UINT id)
{
    return ::GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED;
}

// Flips a check item by its mark and returns the new state.
bool ToggleCheck(HMENU menu, UINT id)
{
    const bool on = !IsChecked(menu, id);
    ::CheckMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    return on;
}

} // namespace

CImageCompare g_ImageCompare;

CImageCompare::CImageCompare()
    : m_pImageDlg1(std::make_unique<CImageDlg>()), m_pImageDlg2(std::make_unique<CImageDlg>())
{
}

// Runs at process exit, after the windows died with the modal dialog.
CImageCompare::~CImageCompare() = default;

const ImageBuffer& CImageCompare::FirstImage() const
{
    return ViewCtrl(*m_pImageDlg1).GetImage();
}

const ImageBuffer& CImageCompare::SecondImage() const
{
    return ViewCtrl(*m_pImageDlg2).GetImage();
}

INT_PTR CImageCompare::DialogProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        OnInitDialog();
        return TRUE;
    case WM_SIZE:
        OnSize();
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(*AsPointer<NMHDR>(lParam)) ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_SYSCOMMAND:
        if (wParam != SC_CLOSE)
            return FALSE;
        ::EndDialog(m_hWnd, 1);
        return TRUE;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

void CImageCompare::OnInitDialog()
{
    ::DragAcceptFiles(m_hWnd, TRUE);

    HICON icon = ::LoadIconW(g_hInstance, MAKEINTRESOURCEW(IDI_TOBREL));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, AsLParam(icon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, AsLParam(icon));

    m_hMenu = ::LoadMenuW(g_hInstance, MAKEINTRESOURCEW(IDR_MAINMENU));
    ::SetMenu(m_hWnd, m_hMenu);
    ::CheckMenuRadioItem(m_hMenu, IDM_ZOOM_1, IDM_ZOOM_8, IDM_ZOOM_1, MF_BYCOMMAND);
    ::CheckMenuRadioItem(m_hMenu, IDM_GRID_NONE, IDM_GRID_BLUE, IDM_GRID_NONE, MF_BYCOMMAND);

    HWND spinner = ::GetDlgItem(m_hWnd, IDC_THRESHOLD_SPIN);
    ::SendMessageW(spinner, UDM_SETRANGE, 0, MAKELPARAM(32, 1));
    ::SendMessageW(spinner, UDM_SETPOS, 0, 1);

    RECT client;
    ::GetClientRect(m_hWnd, &client);
    m_hList = ::GetDlgItem(m_hWnd, IDC_DIFF_LIST);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = client.right - client.left;
    ::SendMessageW(m_hList, LVM_INSERTCOLUMNW, 0, AsLParam(&column));

    m_pImageDlg1->Create(IDD_IMAGE, m_hWnd);
    m_pImageDlg2->Create(IDD_IMAGE, m_hWnd);
    RECT first;
    ::GetWindowRect(m_pImageDlg1->m_hWnd, &first);
    ::SetWindowPos(m_pImageDlg2->m_hWnd, nullptr, first.left + c_nSecondWindowOffset,
                   first.top + c_nSecondWindowOffset, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CImageCompare::OnSize()
{
    if (!m_hList)
        return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int height = client.bottom - c_nListTop;
    ::SetWindowPos(m_hList, nullptr, 0, c_nListTop, client.right, height > 0 ? height : 0, SWP_NOZORDER);
}

// The dialog has nothing of its own to draw; validating is all.
void CImageCompare::OnPaint()
{
    PAINTSTRUCT paint;
    ::BeginPaint(m_hWnd, &paint);
    ::EndPaint(m_hWnd, &paint);
}

bool CImageCompare::OnCommand(UINT id)
{
    switch (id) {
    case IDM_ABOUT: OnAbout(); return true;
    case IDM_EXIT: ::EndDialog(m_hWnd, 1); return true;
    case IDC_RECOMPARE: OnRecompare(); return true;
    case IDM_OPEN: OnFileOpen(); return true;
    case IDM_SHOW_IMAGES: OnShowImage(); return true;
    case IDM_TOOLTIP: OnToolTip(); return true;
    }
    if (id >= IDM_ZOOM_1 && id <= IDM_ZOOM_8) {
        OnZoom(id);
        return true;
    }
    if (id >= IDM_GRID_NONE && id <= IDM_GRID_BLUE) {
        OnGridColor(id);
        return true;
    }
    return false;
}

// Told apart by code alone: the dialog has one up-down control and one list.
bool CImageCompare::OnNotify(NMHDR& header)
{
    switch (header.code) {
    case UDN_DELTAPOS:
        // The step goes through as proposed; only the button reacts.
        if (m_bLoaded)
            ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RECOMPARE), TRUE);
        return true;
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
        if (item.iItem >= 0 && item.iItem < m_DiffList.Size()) {
            const DiffPoint& point = m_DiffList[item.iItem];
            std::swprintf(s_szRowText, ARRAYSIZE(s_szRowText), L"x=%d, y=%d", point.x, point.y);
            item.pszText = s_szRowText;
        }
        return true;
    }
    case LVN_ITEMCHANGED: {
        const NMLISTVIEW& change = reinterpret_cast<NMLISTVIEW&>(header);
        if (change.uNewState & LVIS_SELECTED)
            ShowDifference(change.iItem);
        return true;
    }
    default:
        return false;
    }
}

void CImageCompare::OnAbout()
{
    ::DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), m_hWnd, AboutDlgProc, 0);
}

void CImageCompare::OnFileOpen()
{
    m_bLoaded = false;
    std::vector<wchar_t> first(c_cchSelection + 4, L'\0');
    std::vector<wchar_t> second(c_cchSelection + 2, L'\0');

    static const wchar_t c_szFilter[] = L"*.bmp\0*.bmp\0";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFilter = c_szFilter;
    dialog.lpstrFile = first.data();
    dialog.nMaxFile = DWORD(c_cchSelection);
    dialog.lpstrDefExt = L"bmp";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;
    if (!::GetOpenFileNameW(&dialog))
        return;

    const int chosen = SplitSelection(second.data(), second.size(), first.data(), first.size());
    if (chosen == 0) {
        ShowResourceMessage(IDS_TOO_MANY_FILES, m_hWnd);
        return;
    }
    if (chosen == 1) {
        dialog.lpstrFile = second.data();
        dialog.nMaxFile = DWORD(second.size());
        dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
        if (!::GetOpenFileNameW(&dialog))
            return;
    }
    m_bLoaded = LoadImagePair(first.data(), second.data());
}

int SplitSelection(wchar_t* second, size_t secondSize, wchar_t* first, size_t firstSize)
{
    int terminators = 0;
    size_t folderLength = 0;
    // The look at i + 1 stays inside the buffer, with room to spare.
    const size_t limit = firstSize > 4 ? firstSize - 4 : 0;
    for (size_t i = 0; i < limit; ++i) {
        if (first[i] != L'\0')
            continue;
        const wchar_t* next = first + i + 1;
        if (terminators == 0) {
            if (*next == L'\0')
                return 1;
            // Folder and first name become one path. The folder's own last
            // character is not looked at: a drive's root gives "C:\\name".
            first[i] = L'\\';
            folderLength = i;
            terminators = 1;
        } else if (terminators == 1) {
            const size_t nameLength = std::wcslen(next);
            if (folderLength + 1 + nameLength + 1 > secondSize)
                return 0;
            std::wmemcpy(second, first, folderLength);
            second[folderLength] = L'\\';
            std::wmemcpy(second + folderLength + 1, next, nameLength + 1);
            if (nameLength == 0)
                return 1;
            terminators = 2;
        } else {
            return *next == L'\0' ? 2 : 0;
        }
    }
    return 0;
}

void CImageCompare::OnDropFiles(HDROP drop)
{
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 2) {
        std::wstring paths[2];
        for (UINT i = 0; i < 2; ++i) {
            // As long as the shell's name is: a cut path would name another file.
            const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
            paths[i].resize(length + 1);
            ::DragQueryFileW(drop, i, paths[i].data(), length + 1);
            paths[i].resize(length);
        }
        m_bLoaded = LoadImagePair(paths[0].c_str(), paths[1].c_str());
    } else {
        ShowResourceMessage(IDS_DROP_TWO_FILES, m_hWnd);
    }
    ::DragFinish(drop);
}

bool CImageCompare::LoadImagePair(const wchar_t* first, const wchar_t* second)
{
    const int firstResult = ViewCtrl(*m_pImageDlg1).LoadImage(first);
    ::SetWindowTextW(m_pImageDlg1->m_hWnd, first);
    const int secondResult = ViewCtrl(*m_pImageDlg2).LoadImage(second);
    ::SetWindowTextW(m_pImageDlg2->m_hWnd, second);

    bool loaded = false;
    if (firstResult != 0) {
        ShowLoadError(UINT(firstResult));
    } else if (secondResult != 0) {
        ShowLoadError(UINT(secondResult));
    } else if (FirstImage().width == SecondImage().width && FirstImage().height == SecondImage().height) {
        ShowCount(CompareImages(FirstImage(), SecondImage()));
        loaded = true;
    } else {
        ShowLoadError(IDS_SIZE_MISMATCH);
        loaded = true;
    }

    for (CImageDlg* dialog : {m_pImageDlg1.get(), m_pImageDlg2.get()}) {
        if (ViewCtrl(*dialog).RebuildSurface())
            dialog->LayoutChildren();
    }
    if (!IsChecked(m_hMenu, IDM_SHOW_IMAGES))
        ::SendMessageW(m_hWnd, WM_COMMAND, IDM_SHOW_IMAGES, 0);
    return loaded;
}

void CImageCompare::ShowLoadError(UINT id)
{
    ShowResourceMessage(id, m_hWnd);
    ::SetDlgItemTextW(m_hWnd, IDC_DIFF_COUNT, L"");
}

// A count, or the message of a scan that failed (its list is then empty).
void CImageCompare::ShowCount(int count)
{
    if (count < 0) {
        ShowLoadError(UINT(-count));
        return;
    }
    wchar_t text[16];
    std::swprintf(text, ARRAYSIZE(text), L"%d", count);
    ::SetDlgItemTextW(m_hWnd, IDC_DIFF_COUNT, text);
}

int CImageCompare::CompareImages(const ImageBuffer& first, const ImageBuffer& second)
{
    const LRESULT position = ::SendDlgItemMessageW(m_hWnd, IDC_THRESHOLD_SPIN, UDM_GETPOS, 0, 0);
    const unsigned tolerance = LOWORD(position);
    const int count = ScanDifferences(first, second, tolerance, m_DiffList);

    // Only now, with the list complete, may the list view ask for rows.
    ::SendMessageW(m_hList, LVM_SETITEMCOUNT, count > 0 ? WPARAM(count) : 0, 0);

    // No row selected and none focused afterwards. Clearing all rows at once
    // (index -1) walks every row in some list views, seconds for millions;
    // this list has at most one selected and one focused row.
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    for (const UINT which : {LVNI_SELECTED, LVNI_FOCUSED}) {
        const LRESULT row = ::SendMessageW(m_hList, LVM_GETNEXTITEM, WPARAM(-1), which);
        if (row >= 0)
            ::SendMessageW(m_hList, LVM_SETITEMSTATE, WPARAM(row), AsLParam(&none));
    }
    m_pImageDlg1->MarkPixel(-1, -1);
    m_pImageDlg2->MarkPixel(-1, -1);
    return count;
}

void CImageCompare::OnRecompare()
{
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RECOMPARE), FALSE);
    if (FirstImage().width == SecondImage().width && FirstImage().height == SecondImage().height)
        ShowCount(CompareImages(FirstImage(), SecondImage()));
}

void CImageCompare::ShowDifference(int index)
{
    if (index < 0 || index >= m_DiffList.Size())
        return;
    const DiffPoint point = m_DiffList[index];
    m_pImageDlg1->MarkPixel(point.x, point.y);
    m_pImageDlg2->MarkPixel(point.x, point.y);
}

// Goes by the check mark, not by the windows' visibility, and always moves
// both windows together.
void CImageCompare::OnShowImage()
{
    const int show = ToggleCheck(m_hMenu, IDM_SHOW_IMAGES) ? SW_SHOW : SW_HIDE;
    ::ShowWindow(m_pImageDlg1->m_hWnd, show);
    ::ShowWindow(m_pImageDlg2->m_hWnd, show);
}

void CImageCompare::OnZoom(UINT command)
{
    ::CheckMenuRadioItem(m_hMenu, IDM_ZOOM_1, IDM_ZOOM_8, command, MF_BYCOMMAND);
    const int zoom = c_anZoom[command - IDM_ZOOM_1];
    for (CImageDlg* dialog : {m_pImageDlg1.get(), m_pImageDlg2.get()}) {
        ViewCtrl(*dialog).SetZoom(zoom);
        dialog->m_pClientView->UpdateLayout();
    }
}

void CImageCompare::OnToolTip()
{
    const bool on = ToggleCheck(m_hMenu, IDM_TOOLTIP);
    ViewCtrl(*m_pImageDlg1).EnableTooltip(on);
    ViewCtrl(*m_pImageDlg2).EnableTooltip(on);
}

void CImageCompare::OnGridColor(UINT command)
{
    ::CheckMenuRadioItem(m_hMenu, IDM_GRID_NONE, IDM_GRID_BLUE, command, MF_BYCOMMAND);
    const COLORREF colour = c_acrGrid[command - IDM_GRID_NONE];
    ViewCtrl(*m_pImageDlg1).SetGridColor(colour);
    ViewCtrl(*m_pImageDlg2).SetGridColor(colour);
}
