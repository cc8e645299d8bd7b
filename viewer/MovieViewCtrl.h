#pragma once

#include "BaseWindow.h"
#include "ImageBuffer.h"
#include "PixelSurface.h"

// The pixel view control: shows its image record enlarged by the zoom factor,
// with an optional grid every 16 image pixels and a red marker around one
// pixel, and names the pixel under the mouse in a tracking tooltip. The
// control is always exactly as large as its surface; the client view around
// it scrolls and centres it by moving it.
class CMovieViewCtrl : public CBaseWindow
{
public:
    CMovieViewCtrl();
    ~CMovieViewCtrl() override;

    const wchar_t* GetWndClassName() override { return L"MovieViewCtrl"; }
    bool Create(DWORD style, int x, int y, int width, int height, HWND parent) override;
    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    const ImageBuffer& GetImage() const { return m_image; }
    // Loads a BMP file as the image (LoadBmpFile's result); the surface
    // follows with the next RebuildSurface.
    int LoadImage(const wchar_t* path);
    // Takes `image`'s pixel block (a malloc block, or none) as the image,
    // freeing the one it had.
    void SetImage(const ImageBuffer& image);
    // Builds the surface anew from the image at the current zoom; true when
    // that changed the control's size.
    bool RebuildSurface();
    void SetZoom(int zoom);
    // 0x00BBGGRR, or c_crNoGrid.
    void SetGridColor(COLORREF colour);
    void SetMarkerPos(int x, int y);
    void EnableTooltip(bool on);
    PixelColor GetPixelColor(int x, int y) const { return GetImagePixel(m_image, x, y); }
    SIZE GetViewSize() const { return {m_nViewWidth, m_nViewHeight}; }
    int GetZoom() const { return m_nZoom; }
    POINT GetMarkerPos() const { return m_ptMarker; }
    bool IsTooltipEnabled() const { return m_bShowTooltip; }
    HWND GetTooltip() const { return m_hTooltip; }

    // Draws the surface, the grid and the marker, in that order.
    void PaintContent(HDC dc);

    static constexpr COLORREF c_crNoGrid = 0xFFFFFFFF;

private:
    void OnPaint();
    void OnMouseMove();
    void OnTooltipGetText(NMTTDISPINFOW& info);
    void ActivateTooltip(bool on);
    void DeleteSurface();
    TTTOOLINFOW ToolRecord() const;

    HWND m_hTooltip = nullptr;
    int m_nZoom = 1;
    bool m_bShowTooltip = false;
    int m_nViewWidth = 0;
    int m_nViewHeight = 0;
    POINT m_ptMarker = {-1, -1};
    ImageBuffer m_image;
    // The control owns its pens and its surface, a DIB section whose bits the
    // replication writes; only PaintContent selects them, and only for the
    // length of a paint.
    HPEN m_hGridPen = nullptr;
    HPEN m_hMarkerPen = nullptr;
    HBITMAP m_hSurface = nullptr;
    BITMAPINFO m_bmiSurface = {};
    void* m_pSurfaceBits = nullptr;
};
