#pragma once

#include "BaseDialog.h"
#include "DiffList.h"
#include "ImageBuffer.h"

#include <cstddef>
#include <memory>

class CImageDlg;

// The main comparison window, dialog 130, run modally by the entry. It lives
// for the whole process as one static object, owns the two image windows
// and the difference list, and dispatches the menu, the spinner, the
// re-compare button, the list and dropped files.
class CImageCompare : public CBaseDialog
{
public:
    CImageCompare();
    ~CImageCompare() override;

    INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Loads both files into the image windows and compares them; true when
    // both loaded (even if their sizes differ).
    bool LoadImagePair(const wchar_t* first, const wchar_t* second);
    // Runs the scan at the spinner's tolerance and presents its result;
    // returns the count, or a negated message id when the scan failed.
    int CompareImages(const ImageBuffer& first, const ImageBuffer& second);

    const ImageBuffer& FirstImage() const;
    const ImageBuffer& SecondImage() const;

    HMENU GetMenuHandle() const { return m_hMenu; }
    HWND GetList() const { return m_hList; }
    bool IsLoaded() const { return m_bLoaded; }
    CImageDlg& FirstImageDlg() { return *m_pImageDlg1; }
    CImageDlg& SecondImageDlg() { return *m_pImageDlg2; }
    // The differences the list shows; tests make its growth fail through it.
    DiffList& Differences() { return m_DiffList; }

private:
    HMENU m_hMenu = nullptr;
    HWND m_hList = nullptr;
    bool m_bLoaded = false;
    std::unique_ptr<CImageDlg> m_pImageDlg1;
    std::unique_ptr<CImageDlg> m_pImageDlg2;
    DiffList m_DiffList;

    void OnInitDialog();
    void OnSize();
    void OnPaint();
    bool OnCommand(UINT id);
    bool OnNotify(NMHDR& header);
    void OnAbout();
    void OnFileOpen();
    void OnDropFiles(HDROP drop);
    void ShowLoadError(UINT id);
    void ShowCount(int count);
    void OnRecompare();
    void ShowDifference(int index);
    void OnShowImage();
    void OnZoom(UINT command);
    void OnToolTip();
    void OnGridColor(UINT command);
};

// The selection of the multi-selection open dialog in `first` (`firstSize`
// characters): a full path and two terminators for one file, or the folder,
// a terminator, each name with a terminator, and a closing terminator.
// Returns 1 with `first` holding the one full path; 2 with `first` and
// `second` holding the two full paths; 0 for more than two files, or when no
// verdict is reached within the buffer.
int SplitSelection(wchar_t* second, size_t secondSize, wchar_t* first, size_t firstSize);

extern CImageCompare g_ImageCompare;
