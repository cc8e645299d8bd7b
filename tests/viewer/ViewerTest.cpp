#include "ViewerTest.h"

#include "GuiTest.h"

#include <cstdlib>

CHostWindow::CHostWindow(int width, int height)
    : m_hWnd(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 40, 40, width, height, nullptr,
                               nullptr, g_hInstance, nullptr))
{
}

CHostWindow::~CHostWindow()
{
    ::DestroyWindow(m_hWnd);
}

void PutPicture(CMovieViewCtrl& control, int width, int height, const PixelFn& pixel)
{
    ImageBuffer& image = control.GetImage();
    FreeImageBuffer(image);
    image.width = width;
    image.height = height;
    image.stride = BmpStride(width);
    image.pixels = static_cast<unsigned char*>(std::malloc(size_t(image.stride) * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = image.pixels + PixelOffset(image, x, y);
            const Rgb c = pixel(x, y);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
}

Painted PaintToMemory(CMovieViewCtrl& control, int width, int height, uint32_t background)
{
    Painted out{width, height, std::vector<uint32_t>(size_t(width) * height)};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, to read rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC memory = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    auto* pixels = static_cast<uint32_t*>(bits);
    for (size_t i = 0; i < out.pixels.size(); ++i)
        pixels[i] = background;
    control.PaintContent(memory);
    ::GdiFlush();
    for (size_t i = 0; i < out.pixels.size(); ++i)
        out.pixels[i] = pixels[i] & 0xFFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    return out;
}

uint32_t Hex(Rgb c)
{
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

RECT RectIn(HWND window, HWND parent)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}
