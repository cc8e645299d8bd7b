// Rebuilding the pixel view's surface for a 1024 x 1024 image at each zoom,
// against memcpy of the same number of surface bytes in the same run, and a
// scroll step with its repaint. Run by scripts/bench-viewer (under Wine).

#include "BaseWindow.h"
#include "ClientView.h"
#include "MovieViewCtrl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER s_frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(s_frequency.QuadPart);
}

// The median of `runs` timings of `work`, in milliseconds.
template <typename Work>
double MedianMs(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = Now();
        work();
        times.push_back((Now() - start) * 1000);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageW(&msg);
}

} // namespace

int main()
{
    g_hInstance = ::GetModuleHandleW(nullptr);
    HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 820, 640, nullptr, nullptr,
                                  g_hInstance, nullptr);
    CClientView view;
    view.Create(WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, host);
    CMovieViewCtrl& control = view.ViewCtrl();

    const int side = 1024;
    const ImageBuffer image{side, side, BmpStride(side), static_cast<unsigned char*>(std::malloc(size_t(BmpStride(side)) * side))};
    std::mt19937 random(1);
    for (size_t i = 0; i < size_t(image.stride) * side; ++i)
        image.pixels[i] = uint8_t(random());
    control.SetImage(image);

    // The rebuild is the system's fresh DIB section (allocated and first
    // touched) plus the replication into it; both are shown apart too.
    std::printf("%-5s %10s %11s %10s %10s %12s %12s %14s\n", "zoom", "surface", "rebuild", "memcpy",
                "x memcpy", "replication", "x memcpy", "new section");
    for (int zoom : {1, 2, 4, 8}) {
        control.SetZoom(zoom);
        control.RebuildSurface();
        SurfaceGeometry geometry;
        ComputeSurfaceGeometry(image, zoom, geometry);
        const size_t bytes = geometry.bytes;
        std::vector<unsigned char> from(bytes, 1), to(bytes, 2);
        const int runs = zoom == 8 ? 5 : 11;
        const double rebuild = MedianMs(runs, [&] { control.RebuildSurface(); });
        const double copy = MedianMs(runs, [&] {
            std::memcpy(to.data(), from.data(), bytes);
            __asm__ volatile("" ::"r"(to.data()) : "memory");
        });
        const double replicate = MedianMs(runs, [&] { ReplicateImage(image, zoom, geometry, to.data()); });
        const double fresh = MedianMs(runs, [&] {
            BITMAPINFO info = {};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = geometry.width;
            info.bmiHeader.biHeight = geometry.height;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 24;
            info.bmiHeader.biSizeImage = geometry.bytes;
            void* bits = nullptr;
            HBITMAP b = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
            std::memset(bits, 0, bytes);
            ::DeleteObject(b);
        });
        std::printf("%-5d %7.0f MB %8.2f ms %7.2f ms %9.2fx %9.2f ms %11.2fx %11.2f ms\n", zoom, bytes / 1048576.0,
                    rebuild, copy, rebuild / copy, replicate, replicate / copy, fresh);
    }

    // A scroll step at zoom 4 and the repaint it causes, against one repaint
    // of the whole view without scrolling.
    control.SetZoom(4);
    view.UpdateLayout();
    ::UpdateWindow(host);
    Pump();
    const double scroll = MedianMs(51, [&] {
        view.OnScroll(SB_VERT, SB_LINEDOWN, 0);
        ::UpdateWindow(view.m_hWnd);
        Pump();
    });
    const double repaint = MedianMs(51, [&] {
        ::InvalidateRect(control.m_hWnd, nullptr, FALSE);
        ::UpdateWindow(view.m_hWnd);
        Pump();
    });
    std::printf("scroll one line and repaint, zoom 4: %.3f ms (a full repaint of the view: %.3f ms)\n", scroll,
                repaint);
    ::DestroyWindow(host);
    return 0;
}
