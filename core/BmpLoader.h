#pragma once

#include "ImageBuffer.h"

// Loads a 24-bit uncompressed BMP file into `image`, which is emptied first
// (its old pixel block is freed before anything else happens). Returns 0 with
// the picture's rows stored bottom-up, or a result code with `image` empty:
// IDS_NOT_BITMAP, IDS_UNSUPPORTED_FORMAT, IDS_IMAGE_TOO_LARGE, IDS_CANNOT_READ
// (no such file, a folder, a read error, pixel rows that end early) or
// IDS_OUT_OF_MEMORY.
int LoadBmpFile(ImageBuffer& image, const wchar_t* path);

// Reverses the order of the rows in place: a top-down file's rows become the
// bottom-up order every reader of ImageBuffer expects.
void FlipRows(unsigned char* pixels, int32_t stride, int32_t height);
