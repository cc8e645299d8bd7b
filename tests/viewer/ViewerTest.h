#pragma once

// Shared by the viewer's window tests: a host window, pictures put straight
// into a control's image record, and reading back what the control paints.

#include "BmpBuilder.h"
#include "MovieViewCtrl.h"

#include <vector>

// A visible pop-up to hold the windows under test, at a fixed place on the
// screen.
class CHostWindow
{
public:
    CHostWindow(int width = 900, int height = 700);
    ~CHostWindow();
    HWND m_hWnd;
};

// Replaces the control's image with a picture of the given size, as a load
// would (the control frees it).
void PutPicture(CMovieViewCtrl& control, int width, int height, const PixelFn& pixel);

// What PaintContent draws, as 0xRRGGBB values, row by row from the top; the
// background the control does not paint is `background`.
struct Painted
{
    int width, height;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
Painted PaintToMemory(CMovieViewCtrl& control, int width, int height, uint32_t background = 0x010203);

uint32_t Hex(Rgb c);
RECT RectIn(HWND window, HWND parent);
