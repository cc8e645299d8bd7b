#pragma once

// One function per format that a library decodes: on Linux libjpeg-turbo
// (Jpeg.cpp), libwebp (Webp.cpp), libtiff (Tiff.cpp) and giflib (Gif.cpp);
// on Windows the system's imaging component decodes them all (Wic_win.cpp).
// Each reads the header of a file that begins as its format does.

#include "RowDecoder.h"

#include <utility>

Trouble OpenJpegDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenWebpDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenTiffDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);
Trouble OpenGifDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);

// Makes a `Decoder` of `args` and reads its header into `decoder`; the
// decoder is kept even on trouble, for the caller to drop.
template <typename Decoder, typename... Args>
Trouble OpenDecoder(std::unique_ptr<CRowDecoder>& decoder, Args&&... args)
{
    auto made = std::make_unique<Decoder>(std::forward<Args>(args)...);
    const Trouble trouble = made->Open();
    decoder = std::move(made);
    return trouble;
}
