#include "PngCodec.h"

#include "BmpFormat.h"

#include <zlib.h>

#include <cstring>
#include <memory>

namespace {

const uint8_t c_abSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t Big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool IsType(const uint8_t* type, const char* name)
{
    return std::memcmp(type, name, 4) == 0;
}

// What the pixels depend on: the critical chunks (an upper-case first
// letter; the decoder refuses those it does not know) and the transparency.
bool PixelsDependOn(const uint8_t* type)
{
    return (type[0] & 0x20) == 0 || IsType(type, "tRNS");
}

Trouble ReadHeader(const uint8_t* ihdr, PngFile& png)
{
    const uint32_t width = Big32(ihdr), height = Big32(ihdr + 4);
    png.depth = ihdr[8];
    png.colourType = ihdr[9];
    png.bInterlaced = ihdr[12] != 0;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return Trouble::PngDamaged;
    if (png.depth > 8)
        return Trouble::Png16Bit;
    if (width > uint32_t(c_nMaxDimension) || height > uint32_t(c_nMaxDimension))
        return Trouble::ImageTooLarge;
    png.width = int32_t(width);
    png.height = int32_t(height);
    png.bAlpha = png.colourType == 4 || png.colourType == 6;
    return Trouble::None;
}

struct InflateEnd
{
    void operator()(z_stream* stream) const { inflateEnd(stream); }
};

} // namespace

uint32_t Crc32(const uint8_t* data, size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt chunk = size > (1u << 30) ? (1u << 30) : uInt(size);
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return uint32_t(crc);
}

Trouble CheckPngImageData(const PngFile& png)
{
    z_stream zs = {};
    if (inflateInit(&zs) != Z_OK)
        return Trouble::OutOfMemory;
    const std::unique_ptr<z_stream, InflateEnd> end(&zs);
    uint8_t scratch[1 << 16];
    int status = Z_OK;
    const std::vector<uint8_t>& bytes = png.pixelChunks;
    for (size_t at = 8; at + 12 <= bytes.size();) {
        const uint32_t length = Big32(bytes.data() + at);
        const uint8_t* data = bytes.data() + at + 8;
        at += 12 + size_t(length);
        if (std::memcmp(data - 4, "IDAT", 4) != 0)
            continue;
        if (status == Z_STREAM_END && length > 0)
            return Trouble::PngDamaged;  // data behind the end of the stream
        zs.next_in = const_cast<Bytef*>(data);
        zs.avail_in = length;
        while (zs.avail_in > 0 && status != Z_STREAM_END) {
            zs.next_out = scratch;
            zs.avail_out = sizeof scratch;
            status = inflate(&zs, Z_NO_FLUSH);
            if (status == Z_MEM_ERROR)
                return Trouble::OutOfMemory;
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return Trouble::PngDamaged;
        }
        if (status == Z_STREAM_END && zs.avail_in > 0)
            return Trouble::PngDamaged;
    }
    // A stream that ends early leaves the last rows' bytes to the output's flush.
    while (status != Z_STREAM_END) {
        zs.next_out = scratch;
        zs.avail_out = sizeof scratch;
        status = inflate(&zs, Z_FINISH);
        if (status != Z_STREAM_END && (status != Z_BUF_ERROR || zs.avail_out != 0))
            return status == Z_MEM_ERROR ? Trouble::OutOfMemory : Trouble::PngDamaged;
    }
    return Trouble::None;
}

bool IsPng(const uint8_t* data, size_t size)
{
    return size >= sizeof c_abSignature && std::memcmp(data, c_abSignature, sizeof c_abSignature) == 0;
}

Trouble ReadPngFile(const uint8_t* data, size_t size, PngFile& png)
{
    if (!IsPng(data, size))
        return Trouble::NotBitmap;
    png.pixelChunks.assign(data, data + sizeof c_abSignature);
    for (size_t at = sizeof c_abSignature;;) {
        if (size - at < 12)
            return Trouble::CannotRead;
        const uint32_t length = Big32(data + at);
        if (length > size - at - 12)
            return Trouble::CannotRead;
        const uint8_t* type = data + at + 4;
        if (Crc32(type, size_t(length) + 4) != Big32(type + 4 + length))
            return Trouble::PngDamaged;
        if (at == sizeof c_abSignature) {
            if (!IsType(type, "IHDR") || length != 13)
                return Trouble::PngDamaged;
            if (const Trouble trouble = ReadHeader(type + 4, png); trouble != Trouble::None)
                return trouble;
        }
        png.bAlpha = png.bAlpha || IsType(type, "tRNS");
        if (PixelsDependOn(type))
            png.pixelChunks.insert(png.pixelChunks.end(), data + at, data + at + 12 + length);
        at += 12 + size_t(length);
        if (IsType(type, "IEND"))
            return length == 0 && at == size ? Trouble::None : Trouble::PngDamaged;
    }
}

bool PaletteIndicesValid(const uint8_t* row, int32_t width, int depth, unsigned entries)
{
    if (entries >= (1u << depth))
        return true;
    for (int32_t x = 0; x < width; ++x) {
        const unsigned bit = unsigned(x) * unsigned(depth);
        const unsigned index = (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
        if (index >= entries)
            return false;
    }
    return true;
}
