#pragma once

// The display surface's arithmetic, apart from any window code: its geometry
// for an image and a zoom factor, the pixel-replicating copy, where the grid
// lines and the marker go, and the colour of an image pixel.

#include "ImageBuffer.h"

#include <cstddef>
#include <cstdint>

// A surface of zoom * width by zoom * height pixels, 24-bit, rows bottom-up.
struct SurfaceGeometry
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;   // bytes per surface row: 3 * width rounded up to four
    uint32_t bytes = 0;   // stride * height
};

// False for an empty or negative image, and for a surface that would not fit
// the 32-bit sizes of a device-independent bitmap: such an image gets no
// surface, exactly like one whose surface the system refuses to create.
bool ComputeSurfaceGeometry(const ImageBuffer& image, int32_t zoom, SurfaceGeometry& surface);

// Fills `bits` (a surface of `surface`'s geometry) with the image enlarged by
// pixel replication. At zoom 1 every stored row is copied whole; above, the
// first surface row of each group is written pixel by pixel and copied into
// the group's other zoom - 1 rows.
void ReplicateImage(const ImageBuffer& image, int32_t zoom, const SurfaceGeometry& surface,
                    unsigned char* bits);

struct PixelColor
{
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
};

// The colour of image pixel (x, y), y counted from the top; black outside
// the image.
PixelColor GetImagePixel(const ImageBuffer& image, int32_t x, int32_t y);

// Grid lines fall on the first screen column (row) of image pixels 0, 16,
// 32, ...: every 16 * zoom surface pixels, below `extent`.
constexpr int32_t c_nGridSpacing = 16;

struct MarkerRect
{
    int32_t left, top, right, bottom;  // right and bottom excluded
};

// The frame around the zoom x zoom block of image pixel (x, y), one spare
// pixel on each side, as drawn with a 2-pixel pen.
MarkerRect MarkerRectFor(int32_t x, int32_t y, int32_t zoom);
