#pragma once

#include <cstdint>

// A loaded 24-bit bitmap, rows bottom-up as a BMP file stores them: the first
// `stride` bytes are the bottom row of the picture, three bytes per pixel in
// blue, green, red order, each row padded to a multiple of four bytes.
//
// The record owns `pixels` (a malloc block). Copies of the four fields are
// views that never free anything and stay valid until the next load into the
// record they were taken from. When `width` and `height` are both positive,
// `pixels` holds at least `stride` * `height` bytes.
struct ImageBuffer
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    unsigned char* pixels = nullptr;
};

// Releases the pixel block and leaves the record empty.
void FreeImageBuffer(ImageBuffer& image);

// Bytes per stored row for `width` pixels: width * 3 rounded up to four.
constexpr int32_t BmpStride(int32_t width)
{
    return (width * 3 + 3) / 4 * 4;
}

// Offset of pixel (x, y), y counted from the top row of the picture.
inline int64_t PixelOffset(const ImageBuffer& image, int32_t x, int32_t y)
{
    return int64_t(image.height - 1 - y) * image.stride + int64_t(3) * x;
}
