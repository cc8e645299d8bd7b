#include "PngCodec.h"

#include "BmpFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

const uint8_t c_abSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A chunk other than the image data that the decoder gets is held whole;
// valid ones are small (a palette, its transparency).
constexpr uint32_t c_cbMaxKeptChunk = 1 << 20;

uint32_t Big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void Put32(uint8_t* p, uint32_t value)
{
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

// The checksum of a chunk of type `type` before its data.
uLong ChunkCrcStart(const void* type)
{
    return crc32(crc32(0L, Z_NULL, 0), static_cast<const Bytef*>(type), 4);
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

CImageDataStream::CImageDataStream(const PngFile& png, bool checksums) : m_png(png), m_bChecksums(checksums)
{
    auto* stream = new (std::nothrow) z_stream_s();
    if (stream && inflateInit(stream) != Z_OK) {
        delete stream;
        stream = nullptr;
    }
    m_pStream.reset(stream);
    try {
        m_input.resize(1 << 16);
    } catch (const std::bad_alloc&) {
        m_pStream.reset();
    }
}

void CImageDataStream::StreamEnd::operator()(z_stream_s* stream) const
{
    inflateEnd(stream);
    delete stream;
}

CImageDataStream::~CImageDataStream() = default;

bool CImageDataStream::NextInput()
{
    const std::vector<PngSpan>& spans = m_png.imageData;
    for (; m_nSpan < spans.size(); ++m_nSpan, m_nSpanDone = 0) {
        const PngSpan& span = spans[m_nSpan];
        if (m_nSpanDone == 0)
            m_crc = ChunkCrcStart("IDAT");
        if (m_nSpanDone == span.length)
            continue;
        const size_t count = size_t(std::min<uint64_t>(m_input.size(), span.length - m_nSpanDone));
        if (!m_png.read(span.offset + m_nSpanDone, m_input.data(), count)) {
            m_bReadFailed = true;
            return false;
        }
        if (m_bChecksums)
            m_crc = crc32(m_crc, m_input.data(), uInt(count));
        m_nSpanDone += count;
        // A chunk's last piece is checked before any of it is inflated.
        if (m_bChecksums && m_nSpanDone == span.length && uint32_t(m_crc) != span.crc) {
            m_bBadChecksum = true;
            return false;
        }
        m_pStream->next_in = m_input.data();
        m_pStream->avail_in = uInt(count);
        return true;
    }
    return false;
}

Trouble CImageDataStream::Next(uint8_t* out, size_t capacity, size_t& produced)
{
    produced = 0;
    if (!m_pStream)
        return Trouble::OutOfMemory;
    if (m_png.imageData.empty())
        return Trouble::PngDamaged;
    z_stream_s& zs = *m_pStream;
    zs.next_out = out;
    zs.avail_out = uInt(capacity);
    while (!m_bEnded && zs.avail_out > 0) {
        if (zs.avail_in == 0 && !NextInput())
            return m_bReadFailed ? Trouble::CannotRead : Trouble::PngDamaged;  // the stream stops before its end
        const int status = inflate(&zs, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR)
            return Trouble::OutOfMemory;
        if (status == Z_STREAM_END) {
            m_bEnded = true;
            // Nothing may follow the end: neither in its chunk nor after it
            // (empty chunks, whose checksums are checked on the way).
            if (zs.avail_in > 0 || NextInput() || m_bBadChecksum)
                return Trouble::PngDamaged;
            if (m_bReadFailed)
                return Trouble::CannotRead;
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

Trouble CheckPngRows(const PngFile& png, bool checksums)
{
    static const uint64_t c_anSamples[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint64_t samples = png.colourType < 7 ? c_anSamples[png.colourType] : 0;
    if (samples == 0 || png.bInterlaced)
        return Trouble::PngDamaged;
    const uint64_t rowBytes = 1 + (uint64_t(png.width) * samples * uint64_t(png.depth) + 7) / 8;
    uint64_t rowsLeft = uint64_t(png.height), inRow = 0;  // the next byte's place in its row
    CImageDataStream stream(png, checksums);
    std::vector<uint8_t> piece(1 << 16);
    while (!stream.Ended()) {
        size_t produced = 0;
        if (const Trouble trouble = stream.Next(piece.data(), piece.size(), produced); trouble != Trouble::None)
            return trouble;
        for (size_t at = 0; at < produced && rowsLeft > 0;) {
            // Unfiltering knows five filter types.
            if (inRow == 0 && piece[at] > 4)
                return Trouble::PngDamaged;
            const uint64_t step = std::min<uint64_t>(rowBytes - inRow, produced - at);
            at += size_t(step);
            inRow += step;
            if (inRow == rowBytes) {
                inRow = 0;
                --rowsLeft;
            }
        }
    }
    return rowsLeft == 0 ? Trouble::None : Trouble::PngDamaged;
}

bool IsPng(const uint8_t* data, size_t size)
{
    return size >= sizeof c_abSignature && std::memcmp(data, c_abSignature, sizeof c_abSignature) == 0;
}

Trouble ReadPngFile(uint64_t size, PngReader read, PngFile& png)
{
    uint8_t head[sizeof c_abSignature];
    if (size < sizeof head || !read(0, head, sizeof head))
        return size < sizeof head ? Trouble::NotBitmap : Trouble::CannotRead;
    if (!IsPng(head, sizeof head))
        return Trouble::NotBitmap;
    png.pixelChunks.assign(head, head + sizeof head);
    png.imageData.clear();
    png.read = read;
    bool dataSeen = false;
    std::vector<uint8_t> piece(1 << 16), kept;
    for (uint64_t at = sizeof c_abSignature;;) {
        uint8_t header[8];
        if (size - at < 12 || !read(at, header, sizeof header))
            return Trouble::CannotRead;
        const uint32_t length = Big32(header);
        if (length > size - at - 12)
            return Trouble::CannotRead;
        const uint8_t* type = header + 4;
        const bool data = IsType(type, "IDAT");
        const bool keep = !data && PixelsDependOn(type);
        // A chunk kept for the decoder is held whole; valid ones are small
        // (a palette at most), and one the decoder does not know fails it.
        if (keep && length > c_cbMaxKeptChunk)
            return Trouble::PngDamaged;
        kept.assign(header, header + sizeof header);
        kept.resize(keep ? 12 + size_t(length) : 8);
        uLong crc = ChunkCrcStart(type);
        // The image data is read, and its checksums checked, as it is
        // inflated: here only its place is taken.
        for (uint64_t done = 0; done < length && !data;) {
            const size_t count = size_t(std::min<uint64_t>(piece.size(), length - done));
            uint8_t* into = keep ? kept.data() + 8 + done : piece.data();
            if (!read(at + 8 + done, into, count))
                return Trouble::CannotRead;
            crc = crc32(crc, into, uInt(count));
            done += count;
        }
        uint8_t stored[4];
        if (!read(at + 8 + length, stored, sizeof stored))
            return Trouble::CannotRead;
        if (!data && uint32_t(crc) != Big32(stored))
            return Trouble::PngDamaged;
        // Past the image data the decoder takes nothing but the end, and a
        // critical chunk it does not know fails it anywhere.
        const bool known = IsType(type, "IHDR") || IsType(type, "PLTE") || IsType(type, "tRNS") || IsType(type, "IEND");
        if (keep && (dataSeen ? !IsType(type, "IEND") : !known))
            return Trouble::PngDamaged;
        if (at == sizeof c_abSignature) {
            if (!IsType(type, "IHDR") || length != 13)
                return Trouble::PngDamaged;
            if (const Trouble trouble = ReadHeader(kept.data() + 8, png); trouble != Trouble::None)
                return trouble;
        }
        png.bAlpha = png.bAlpha || IsType(type, "tRNS");
        if (data) {
            png.dataAt = dataSeen ? png.dataAt : png.pixelChunks.size();
            png.imageData.push_back({at + 8, length, Big32(stored)});
            dataSeen = true;
        } else if (keep) {
            std::memcpy(kept.data() + 8 + length, stored, sizeof stored);
            png.pixelChunks.insert(png.pixelChunks.end(), kept.begin(), kept.end());
        }
        at += 12 + uint64_t(length);
        if (IsType(type, "IEND"))
            return length == 0 && at == size ? Trouble::None : Trouble::PngDamaged;
    }
}

Trouble ReadPngFile(const uint8_t* data, size_t size, PngFile& png)
{
    return ReadPngFile(size, [data, size](uint64_t offset, uint8_t* out, size_t bytes) {
        if (offset > size || bytes > size - offset)
            return false;
        std::memcpy(out, data + offset, bytes);
        return true;
    }, png);
}

bool PngFile::Copy(const ByteSink& out) const
{
    uint8_t head[8];
    std::vector<uint8_t> piece;
    if (!out(pixelChunks.data(), dataAt))
        return false;
    for (const PngSpan& span : imageData) {
        Put32(head, span.length);
        std::memcpy(head + 4, "IDAT", 4);
        if (!out(head, 8))
            return false;
        constexpr size_t c_cbPiece = 64 * 1024;
        piece.resize(std::min<size_t>(span.length, c_cbPiece));
        for (uint64_t done = 0; done < span.length;) {
            const size_t bytes = size_t(std::min<uint64_t>(span.length - done, c_cbPiece));
            if (!read(span.offset + done, piece.data(), bytes) || !out(piece.data(), bytes))
                return false;
            done += bytes;
        }
        Put32(head, span.crc);
        if (!out(head, 4))
            return false;
    }
    return out(pixelChunks.data() + dataAt, pixelChunks.size() - dataAt);
}

bool PngFile::Bytes(std::vector<uint8_t>& out) const
{
    out.clear();
    return Copy([&](const void* bytes, size_t count) {
        out.insert(out.end(), static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + count);
        return true;
    });
}

bool PngFile::LooksSame(const PngFile& other) const
{
    if (pixelChunks != other.pixelChunks || dataAt != other.dataAt ||
        imageData.size() != other.imageData.size())
        return false;
    for (size_t i = 0; i < imageData.size(); ++i) {
        if (imageData[i].length != other.imageData[i].length || imageData[i].crc != other.imageData[i].crc)
            return false;
    }
    return true;
}

bool PngFile::SameData(const PngFile& other, bool* sound) const
{
    if (!LooksSame(other))
        return false;
    std::vector<uint8_t> mine(1 << 16), theirs(1 << 16);
    if (sound)
        *sound = true;
    for (size_t i = 0; i < imageData.size(); ++i) {
        uLong crc = ChunkCrcStart("IDAT");
        for (uint64_t done = 0; done < imageData[i].length;) {
            const size_t count = size_t(std::min<uint64_t>(mine.size(), imageData[i].length - done));
            if (!read(imageData[i].offset + done, mine.data(), count) ||
                !other.read(other.imageData[i].offset + done, theirs.data(), count) ||
                std::memcmp(mine.data(), theirs.data(), count) != 0)
                return false;
            if (sound)
                crc = crc32(crc, mine.data(), uInt(count));
            done += count;
        }
        if (sound && uint32_t(crc) != imageData[i].crc)
            *sound = false;
    }
    return true;
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
