#include "BmpFormat.h"

#include "ResultCodes.h"

#include <cstring>

namespace {

uint16_t ReadU16(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void WriteU16(unsigned char* p, uint16_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

void WriteU32(unsigned char* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

constexpr uint16_t c_wBmpSignature = 0x4D42;  // "BM"

} // namespace

int ParseBmpHeaders(const unsigned char* head, size_t available, uint64_t fileSize,
                    BmpLayout& layout)
{
    layout = BmpLayout();
    if (available < c_cbFileHeader || ReadU16(head) != c_wBmpSignature)
        return IDS_NOT_BITMAP;
    if (available < c_cbHeaders)
        return IDS_NOT_BITMAP;

    const uint32_t offBits = ReadU32(head + 10);
    const uint32_t infoSize = ReadU32(head + 14);
    const int32_t biWidth = int32_t(ReadU32(head + 18));
    const int32_t biHeight = int32_t(ReadU32(head + 22));
    const uint16_t bitCount = ReadU16(head + 28);
    const uint32_t compression = ReadU32(head + 30);

    // An info header shorter than 40 bytes (OS/2's 12-byte core header) keeps
    // its fields elsewhere: a bitmap, but not one this program reads.
    if (bitCount != 24 || compression != 0 || infoSize < c_cbInfoHeader)
        return IDS_UNSUPPORTED_FORMAT;

    if (biWidth <= 0 || biHeight == 0)
        return IDS_NOT_BITMAP;
    const int64_t rows = biHeight < 0 ? -int64_t(biHeight) : int64_t(biHeight);
    if (biWidth > c_nMaxDimension || rows > c_nMaxDimension)
        return IDS_IMAGE_TOO_LARGE;

    if (uint64_t(offBits) < c_cbFileHeader + uint64_t(infoSize) || offBits > fileSize)
        return IDS_NOT_BITMAP;

    // biSizeImage may be 0 for uncompressed files, and some writers state less
    // than the rows need; the rows themselves are what every reader relies on.
    const int32_t stride = BmpStride(biWidth);
    const uint64_t pixelBytes = uint64_t(stride) * uint64_t(rows);
    if (fileSize - offBits < pixelBytes)
        return IDS_CANNOT_READ;

    layout.width = biWidth;
    layout.height = int32_t(rows);
    layout.stride = stride;
    layout.bTopDown = biHeight < 0;
    layout.pixelOffset = offBits;
    layout.pixelBytes = pixelBytes;
    return 0;
}

bool EncodeBmpHeaders(const ImageBuffer& image, unsigned char header[c_cbHeaders])
{
    const uint64_t pixelBytes = uint64_t(uint32_t(image.stride)) * uint32_t(image.height);
    if (image.width <= 0 || image.height <= 0 || pixelBytes > UINT32_MAX - c_cbHeaders)
        return false;
    std::memset(header, 0, c_cbHeaders);
    WriteU16(header, c_wBmpSignature);
    WriteU32(header + 2, uint32_t(c_cbHeaders + pixelBytes));
    WriteU32(header + 10, uint32_t(c_cbHeaders));
    WriteU32(header + 14, uint32_t(c_cbInfoHeader));
    WriteU32(header + 18, uint32_t(image.width));
    WriteU32(header + 22, uint32_t(image.height));
    WriteU16(header + 26, 1);
    WriteU16(header + 28, 24);
    WriteU32(header + 34, uint32_t(pixelBytes));
    WriteU32(header + 38, 2835);  // 72 dpi
    WriteU32(header + 42, 2835);
    return true;
}

bool WriteBmpFile(const ImageBuffer& image, FILE* file)
{
    if (!file)
        return false;
    unsigned char header[c_cbHeaders];
    const size_t bytes = size_t(image.stride) * size_t(image.height > 0 ? image.height : 0);
    bool ok = EncodeBmpHeaders(image, header) && std::fwrite(header, 1, sizeof header, file) == sizeof header &&
              std::fwrite(image.pixels, 1, bytes, file) == bytes;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}
