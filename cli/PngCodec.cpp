#include "PngCodec.h"

#include "BmpFormat.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

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

CImageDataStream::CImageDataStream(const PngFile& png)
    : m_bytes(png.pixelChunks), m_nAt(0), m_nFirst(0), m_nEnd(0)
{
    auto* stream = new (std::nothrow) z_stream_s();
    if (stream && inflateInit(stream) != Z_OK) {
        delete stream;
        stream = nullptr;
    }
    m_pStream.reset(stream);
    // The image data chunks follow each other; anything else among them
    // makes the file damaged.
    bool seen = false;
    for (size_t at = sizeof c_abSignature; at + 12 <= m_bytes.size();) {
        const size_t next = at + 12 + Big32(m_bytes.data() + at);
        if (IsType(m_bytes.data() + at + 4, "IDAT")) {
            m_bApart = m_bApart || (seen && m_nEnd != at);
            m_nFirst = seen ? m_nFirst : at;
            m_nEnd = next;
            seen = true;
        }
        at = next;
    }
    m_nAt = m_nFirst;
}

void CImageDataStream::StreamEnd::operator()(z_stream_s* stream) const
{
    inflateEnd(stream);
    delete stream;
}

CImageDataStream::~CImageDataStream() = default;

bool CImageDataStream::NextChunk()
{
    while (m_nAt < m_nEnd) {
        const uint32_t length = Big32(m_bytes.data() + m_nAt);
        const uint8_t* data = m_bytes.data() + m_nAt + 8;
        m_nAt += 12 + size_t(length);
        if (length > 0 && IsType(data - 4, "IDAT")) {
            m_pStream->next_in = const_cast<Bytef*>(data);
            m_pStream->avail_in = length;
            return true;
        }
    }
    return false;
}

Trouble CImageDataStream::Next(uint8_t* out, size_t capacity, size_t& produced)
{
    produced = 0;
    if (!m_pStream)
        return Trouble::OutOfMemory;
    if (m_bApart || m_nFirst == m_nEnd)
        return Trouble::PngDamaged;
    z_stream_s& zs = *m_pStream;
    zs.next_out = out;
    zs.avail_out = uInt(capacity);
    while (!m_bEnded && zs.avail_out > 0) {
        if (zs.avail_in == 0 && !NextChunk())
            return Trouble::PngDamaged;  // the stream stops before its end
        const int status = inflate(&zs, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR)
            return Trouble::OutOfMemory;
        if (status == Z_STREAM_END) {
            m_bEnded = true;
            // Nothing may follow the end: neither in its chunk nor after it.
            if (zs.avail_in > 0 || NextChunk())
                return Trouble::PngDamaged;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            return Trouble::PngDamaged;
        }
    }
    produced = capacity - zs.avail_out;
    return Trouble::None;
}

Trouble CheckPngImageData(const PngFile& png)
{
    CImageDataStream stream(png);
    uint8_t scratch[1 << 16];
    while (!stream.Ended()) {
        size_t produced = 0;
        if (const Trouble trouble = stream.Next(scratch, sizeof scratch, produced); trouble != Trouble::None)
            return trouble;
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
        if (PaletteIndex(row, x, depth) >= entries)
            return false;
    }
    return true;
}
