#pragma once

// PNG files through the platform's own decoder and encoder: libspng here,
// the Windows Imaging Component on Windows (Png_spng.cpp, Png_wic.cpp).
// Stored samples are taken as they are: gamma, colour profiles and rendering
// intents change nothing.

#include "ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class COutputFile;

bool IsPng(const unsigned char* data, size_t size);

struct PngInfo
{
    int32_t width = 0;
    int32_t height = 0;
    bool bAlpha = false;   // an alpha channel, or transparency from a tRNS chunk
};

// Reads the header: 0, or the trouble that refuses the file before any
// decoding (not a PNG, 16-bit samples, a side over 65,535 pixels, a decoded
// size larger than the memory this machine can give).
int ReadPngInfo(const unsigned char* data, size_t size, PngInfo& info);

// Decodes into `image`, which gets a malloc block of rows bottom-up as a BMP
// file stores them: 3 bytes (blue, green, red) a pixel with rows padded to
// four bytes, or 4 bytes (blue, green, red, alpha; 255 where the file has no
// alpha) a pixel. 0, or the trouble (damaged or cut-short data, a palette
// index past the palette's end, out of memory).
int DecodePng(const unsigned char* data, size_t size, int channels, ImageBuffer& image);

// Writes a width x height 8-bit RGB PNG to `out`; `row(y, bgr)` fills picture
// row y (top first) in blue, green, red order. False if anything failed.
bool EncodePng(COutputFile& out, int32_t width, int32_t height,
               const std::function<void(int32_t y, unsigned char* bgr)>& row);
