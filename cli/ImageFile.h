#pragma once

#include "ImageBuffer.h"
#include "Platform.h"

#include <memory>
#include <string>

// One input of a comparison: the picture of a BMP file, its rows bottom-up
// as the scan expects. Bottom-up files are used in place; a top-down file's
// rows are copied into that order.
class CImageFile
{
public:
    // 0, or the result code that says why the file cannot be compared.
    int Open(const std::string& path);
    const ImageBuffer& Image() const { return m_image; }

private:
    struct FreeDeleter
    {
        void operator()(unsigned char* p) const;
    };

    CFileBytes m_bytes;
    std::unique_ptr<unsigned char, FreeDeleter> m_pFlipped;
    ImageBuffer m_image;
};
