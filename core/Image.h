#pragma once

#include "ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Pixels that somebody else owns, read-only: `width` x `height` pixels of
// `channels` bytes each (3: blue, green, red; 4: blue, green, red, alpha),
// picture row y (counted from the top) at `top + (y - firstRow) * step`. A
// bottom-up block, the way a BMP file and ImageBuffer store rows, has a
// negative step. A window on a taller picture (a band of rows with the rows
// around it) keeps the picture's height and numbering: only rows firstRow
// on are there. A view stays valid as long as the pixels it was taken from.
struct ImageView
{
    int32_t width = 0;
    int32_t height = 0;
    int channels = 3;
    const uint8_t* top = nullptr;
    ptrdiff_t step = 0;
    int32_t firstRow = 0;  // the picture row at `top`

    const uint8_t* Row(int32_t y) const { return top + (y - firstRow) * step; }
    bool SameGeometry(const ImageView& other) const
    {
        return width == other.width && height == other.height && channels == other.channels;
    }
    // Picture rows `from` to `end` - 1 as a picture of their own.
    ImageView Rows(int32_t from, int32_t end) const { return {width, end - from, channels, Row(from), step}; }
};

// A 24-bit bitmap as the program's loader stores it, seen as an image.
inline ImageView ViewOf(const ImageBuffer& image)
{
    const uint8_t* top = image.pixels && image.height > 0 ? image.pixels + PixelOffset(image, 0, 0) : image.pixels;
    return {image.width, image.height, 3, top, -ptrdiff_t(image.stride)};
}

// An image that owns its pixels: rows top first, `channels` bytes a pixel,
// no padding. Empty until Allocate succeeds.
class CImage
{
public:
    // False, leaving the image empty, when the memory is not there.
    bool Allocate(int32_t width, int32_t height, int channels)
    {
        m_pPixels.reset();
        m_view = ImageView();
        const size_t bytes = size_t(width) * size_t(height) * size_t(channels);
        m_pPixels.reset(new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1]);
        if (!m_pPixels)
            return false;
        m_view = {width, height, channels, m_pPixels.get(), ptrdiff_t(width) * channels};
        return true;
    }

    uint8_t* Row(int32_t y) { return m_pPixels.get() + y * m_view.step; }
    const ImageView& View() const { return m_view; }

private:
    std::unique_ptr<uint8_t[]> m_pPixels;
    ImageView m_view;
};
