#include "PixelSurface.h"

#include <climits>
#include <cstring>

bool ComputeSurfaceGeometry(const ImageBuffer& image, int32_t zoom, SurfaceGeometry& surface)
{
    surface = SurfaceGeometry();
    if (image.width <= 0 || image.height <= 0 || zoom <= 0 || !image.pixels)
        return false;
    const int64_t width = int64_t(zoom) * image.width;
    const int64_t height = int64_t(zoom) * image.height;
    const int64_t stride = (3 * width + 3) / 4 * 4;
    const int64_t bytes = stride * height;
    if (width > INT32_MAX || height > INT32_MAX || bytes > INT32_MAX)
        return false;
    surface.width = int32_t(width);
    surface.height = int32_t(height);
    surface.stride = int32_t(stride);
    surface.bytes = uint32_t(bytes);
    return true;
}

namespace {

// One image row enlarged into one surface row. Each pixel is stored as four
// bytes, zoom times, three bytes apart; the fourth byte of each store is
// overwritten by the next one. The last pixel's stores run one byte past the
// row's pixels into its fill bytes or into the next surface row of the same
// group, which the caller overwrites next; so it is also read by bytes, never
// past the image row.
template <int32_t Zoom>
void ExpandRow(const unsigned char* source, int32_t width, unsigned char* target)
{
    for (int32_t x = 0; x + 1 < width; ++x, source += 3, target += 3 * Zoom) {
        uint32_t pixel;
        std::memcpy(&pixel, source, 4);
        for (int32_t k = 0; k < Zoom; ++k)
            std::memcpy(target + 3 * k, &pixel, 4);
    }
    const uint32_t last = uint32_t(source[0]) | uint32_t(source[1]) << 8 | uint32_t(source[2]) << 16;
    for (int32_t k = 0; k < Zoom; ++k)
        std::memcpy(target + 3 * k, &last, 4);
}

void ExpandRowAnyZoom(const unsigned char* source, int32_t width, int32_t zoom, unsigned char* target)
{
    for (int32_t x = 0; x < width; ++x, source += 3) {
        for (int32_t k = 0; k < zoom; ++k, target += 3) {
            target[0] = source[0];
            target[1] = source[1];
            target[2] = source[2];
        }
    }
}

} // namespace

void ReplicateImage(const ImageBuffer& image, int32_t zoom, const SurfaceGeometry& surface,
                    unsigned char* bits)
{
    // Both are stored bottom-up, so stored image row r becomes stored surface
    // rows zoom * r to zoom * r + zoom - 1.
    for (int32_t r = image.height - 1; r >= 0; --r) {
        const unsigned char* source = image.pixels + int64_t(r) * image.stride;
        unsigned char* first = bits + int64_t(zoom) * r * surface.stride;
        switch (zoom) {
        case 1:
            std::memcpy(first, source, size_t(image.stride));
            continue;
        case 2: ExpandRow<2>(source, image.width, first); break;
        case 4: ExpandRow<4>(source, image.width, first); break;
        case 8: ExpandRow<8>(source, image.width, first); break;
        default: ExpandRowAnyZoom(source, image.width, zoom, first); break;
        }
        for (int32_t k = 1; k < zoom; ++k)
            std::memcpy(first + int64_t(k) * surface.stride, first, size_t(surface.stride));
    }
}

PixelColor GetImagePixel(const ImageBuffer& image, int32_t x, int32_t y)
{
    if (x < 0 || y < 0 || x >= image.width || y >= image.height || !image.pixels)
        return {};
    const unsigned char* p = image.pixels + PixelOffset(image, x, y);
    return {p[0], p[1], p[2]};
}

MarkerRect MarkerRectFor(int32_t x, int32_t y, int32_t zoom)
{
    return {zoom * x - 1, zoom * y - 1, zoom * x + zoom + 2, zoom * y + zoom + 2};
}
