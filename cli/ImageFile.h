#pragma once

#include "BmpFormat.h"
#include "ImageBuffer.h"
#include "Platform.h"

#include <memory>
#include <string>

// One input of a comparison, a BMP or a PNG file told apart by its first
// bytes. Open reads and checks the headers; Decode makes the picture in the
// form the scan of the pair takes: rows bottom-up, 3 bytes a pixel (blue,
// green, red, rows padded to four bytes) or 4 (with alpha; 255 where the
// file has none).
class CImageFile
{
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // 0, or the result code that says why the file cannot be compared.
    int Open(const std::string& path);
    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    bool HasAlpha() const { return m_bAlpha; }

    int Decode(int channels);
    const ImageBuffer& Image() const { return m_image; }

private:
    CFileBytes m_bytes;
    BmpLayout m_layout;
    bool m_bPng = false;
    bool m_bAlpha = false;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    ImageBuffer m_image;
    unsigned char* m_pOwned = nullptr;  // malloc'd pixels, unless m_image views the file
};
