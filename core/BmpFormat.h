#pragma once

#include "ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The two headers at the start of every BMP file the loader reads: the 14-byte
// file header and the 40-byte info header (larger info headers begin with the
// same 40 bytes).
constexpr size_t c_cbFileHeader = 14;
constexpr size_t c_cbInfoHeader = 40;
constexpr size_t c_cbHeaders = c_cbFileHeader + c_cbInfoHeader;

// Positions are stored as 16-bit numbers, so no side may be longer than this.
constexpr int32_t c_nMaxDimension = 65535;

// Where and how a 24-bit uncompressed file stores its pixel array.
struct BmpLayout
{
    int32_t width = 0;
    int32_t height = 0;          // rows in the picture, always positive
    int32_t stride = 0;
    bool bTopDown = false;       // negative biHeight: the top row is stored first
    uint32_t pixelOffset = 0;    // bfOffBits
    uint64_t pixelBytes = 0;     // stride * height, the bytes read from pixelOffset
};

// Checks the headers of a file of `fileSize` bytes whose first `available`
// bytes are in `head` (only the first c_cbHeaders are looked at). Returns 0 and
// fills `layout`, or the result code of the first check that fails, in this
// order: signature and complete headers (IDS_NOT_BITMAP), 24 bits and no
// compression (IDS_UNSUPPORTED_FORMAT), a picture of at least one pixel whose
// pixel array lies behind the headers (IDS_NOT_BITMAP), sides of at most
// c_nMaxDimension (IDS_IMAGE_TOO_LARGE), a file long enough for every row
// (IDS_CANNOT_READ).
int ParseBmpHeaders(const unsigned char* head, size_t available, uint64_t fileSize,
                    BmpLayout& layout);

// Fills a classic 54-byte header (40-byte info header, bottom-up rows,
// pixels at offset 54) for writing `image` as a file. False when the file
// would not fit the format's 32-bit sizes.
bool EncodeBmpHeaders(const ImageBuffer& image, unsigned char header[c_cbHeaders]);

// Writes `image` as a classic 24-bit BMP into `file` (opened for writing in
// binary mode by the caller, who knows the platform's paths) and closes it.
// False if the image cannot be described or any write or the close failed.
bool WriteBmpFile(const ImageBuffer& image, FILE* file);
