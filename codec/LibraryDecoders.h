#pragma once

// One function per format that a library decodes: on Linux libjpeg-turbo
// (Jpeg.cpp), libwebp (Webp.cpp), libtiff (Tiff.cpp) and giflib (Gif.cpp);
// on Windows the system's imaging component decodes them all (Wic_win.cpp).
// Each reads the header of a file that begins as its format does.

#include "RowDecoder.h"

Trouble OpenJpegDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenWebpDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenTiffDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenGifDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
