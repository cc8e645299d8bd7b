#include "PngCodec.h"

#include "BmpFormat.h"

#ifdef TOBREL_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

const uint8_t c_abSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A chunk other than the image data that the decoder gets is held whole;
// valid ones are small (a palette, its transparency).
constexpr uint32_t c_cbMaxKeptChunk = 1 << 20;
// The file is read this much at a time while its structure is checked, and
// while its image data is inflated.
constexpr size_t c_cbStructureWindow = 64 * 1024;
constexpr size_t c_cbDataWindow = 256 * 1024;
constexpr size_t c_cbInflateInput = 128 * 1024;

uint32_t Big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t Big16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

bool IsType(const uint8_t* type, const char* name)
{
    return std::memcmp(type, name, 4) == 0;
}

// What the pixels depend on: the critical chunks (an upper-case first
// letter; those we do not know are refused) and the transparency.
bool PixelsDependOn(const uint8_t* type)
{
    return (type[0] & 0x20) == 0 || IsType(type, "tRNS");
}

// Folds an image data chunk's length and checksum into a digest of them.
uint64_t Fold(uint64_t digest, uint32_t length, uint32_t crc)
{
    const uint64_t value = uint64_t(length) << 32 | crc;
    digest ^= value + 0x9E3779B97F4A7C15ull + (digest << 6) + (digest >> 2);
    return digest * 0xFF51AFD7ED558CCDull;
}

Trouble ReadHeader(const uint8_t* ihdr, PngFile& png)
{
    const uint32_t width = Big32(ihdr), height = Big32(ihdr + 4);
    png.depth = ihdr[8];
    png.colourType = ihdr[9];
    png.bInterlaced = ihdr[12] != 0;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return Trouble::PngDamaged;
    if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1)  // compression, filter and interlace methods
        return Trouble::PngDamaged;
    // The depths each colour type allows, a bit for each.
    static const unsigned c_anDepths[7] = {0x0116, 0, 0x0100, 0x0116, 0x0100, 0, 0x0100};
    const unsigned depth = unsigned(png.depth), type = unsigned(png.colourType);
    const bool eightBitOrLess = depth <= 8 && type < 7 && (c_anDepths[type] >> depth & 1);
    if (depth == 16 && type < 7 && type != 3 && c_anDepths[type] != 0)
        return Trouble::Png16Bit;
    if (!eightBitOrLess)
        return Trouble::PngDamaged;
    if (width > uint32_t(c_nMaxDimension) || height > uint32_t(c_nMaxDimension))
        return Trouble::ImageTooLarge;
    png.width = int32_t(width);
    png.height = int32_t(height);
    png.bAlpha = png.colourType == 4 || png.colourType == 6;
    return Trouble::None;
}

// A palette: the colours of a palette picture, a hint in a colour picture
// (which changes nothing), and in a grey picture ignored, as other decoders
// do. A later palette replaces an earlier one. False when it is malformed.
bool ReadPalette(const uint8_t* data, uint32_t length, PngFile& png)
{
    if (length == 0 || length % 3 != 0 || length > 3 * 256)
        return false;
    if (png.colourType != 3)
        return true;
    png.paletteEntries = length / 3;
    for (unsigned i = 0; i < png.paletteEntries; ++i) {
        std::memcpy(png.palette[i], data + 3 * i, 3);
        png.palette[i][3] = 255;
    }
    return true;
}

// Transparency: alpha for palette entries, or one colour made transparent.
// Like other decoders we take the first that fits the picture and pass over
// any other: the wrong size, a palette's before the palette, in a picture
// with alpha of its own. True when it was taken.
bool ReadTransparency(const uint8_t* data, uint32_t length, PngFile& png)
{
    switch (png.colourType) {
    case 0:
        if (length != 2)
            return false;
        png.colourKey[0] = png.colourKey[1] = png.colourKey[2] = Big16(data);
        png.bColourKey = true;
        break;
    case 2:
        if (length != 6)
            return false;
        for (int i = 0; i < 3; ++i)
            png.colourKey[i] = Big16(data + 2 * i);
        png.bColourKey = true;
        break;
    case 3:
        if (png.paletteEntries == 0 || length == 0 || length > png.paletteEntries)
            return false;
        for (uint32_t i = 0; i < length; ++i)
            png.palette[i][3] = data[i];
        break;
    default:
        return false;
    }
    png.bAlpha = true;
    return true;
}

} // namespace

int PngFile::Samples() const
{
    static const int c_anSamples[7] = {1, 0, 3, 1, 2, 0, 4};
    return colourType >= 0 && colourType < 7 ? c_anSamples[colourType] : 0;
}

CFileWindow::CFileWindow(const PngFile& png, uint64_t begin, uint64_t end, size_t capacity)
    : m_read(png.read), m_nCapacity(capacity), m_nDataAt(begin), m_nEnd(end)
{
    // A mapped file is at hand whole: nothing is read or copied.
    if (png.mapped && begin <= end) {
        m_pData = png.mapped + begin;
        m_nFull = size_t(end - begin);
        return;
    }
    m_pBuffer.reset(new (std::nothrow) uint8_t[capacity]);
    m_pData = m_pBuffer.get();
}

bool CFileWindow::Ensure(size_t bytes)
{
    if (Available() >= bytes)
        return true;
    if (!m_pBuffer || bytes > m_nCapacity || bytes > m_nEnd - Offset())
        return false;
    // What is left moves to the front, and the rest of the buffer is read.
    const size_t left = Available();
    std::memmove(m_pBuffer.get(), At(), left);
    m_nDataAt += m_nAt;
    m_nAt = 0;
    const size_t more = size_t(std::min<uint64_t>(m_nCapacity - left, m_nEnd - m_nDataAt - left));
    if (!m_read(m_nDataAt + left, m_pBuffer.get() + left, more)) {
        m_nFull = left;
        m_bReadFailed = true;
        return false;
    }
    m_nFull = left + more;
    return true;
}

void CFileWindow::Skip(uint64_t bytes)
{
    if (bytes <= Available()) {
        m_nAt += size_t(bytes);
        return;
    }
    m_nDataAt += m_nAt + bytes;
    m_nAt = m_nFull = 0;
}

bool IsPng(const uint8_t* data, size_t size)
{
    return size >= sizeof c_abSignature && std::memcmp(data, c_abSignature, sizeof c_abSignature) == 0;
}

Trouble ReadPngFile(uint64_t size, PngReader read, PngFile& png, const uint8_t* mapped)
{
    png = PngFile();
    png.read = std::move(read);
    png.mapped = mapped;
    CFileWindow file(png, 0, size, c_cbStructureWindow);
    if (!file.Allocated())
        return Trouble::OutOfMemory;
    if (!file.Ensure(sizeof c_abSignature))
        return file.ReadFailed() ? Trouble::CannotRead : Trouble::NotBitmap;
    if (!IsPng(file.At(), sizeof c_abSignature))
        return Trouble::NotBitmap;
    png.pixelChunks.assign(c_abSignature, c_abSignature + sizeof c_abSignature);
    file.Skip(sizeof c_abSignature);
    enum { BeforeData, InData, AfterData } place = BeforeData;
    bool palette = false, transparency = false;
    std::vector<uint8_t> kept;
    for (bool first = true;; first = false) {
        // A chunk is its length, type, data and checksum.
        if (!file.Ensure(8))
            return Trouble::CannotRead;
        const uint32_t length = Big32(file.At());
        uint8_t type[4];
        std::memcpy(type, file.At() + 4, 4);
        const uint64_t at = file.Offset();
        if (length > 0x7FFFFFFF || length > size - at - 8 || size - at - 8 - length < 4)
            return Trouble::CannotRead;
        const bool data = IsType(type, "IDAT");
        const bool keep = !data && PixelsDependOn(type);
        // A chunk kept for the decoder is held whole; valid ones are small
        // (a palette at most), and one we do not know is refused anyway.
        if (keep && length > c_cbMaxKeptChunk)
            return Trouble::PngDamaged;
        kept.assign(file.At(), file.At() + 8);
        file.Skip(8);
        uint32_t crc = Crc32(type, 4);
        if (data) {
            // The image data chunks follow each other; they are read, and
            // their checksums checked, where they are inflated.
            // A palette picture needs its palette before them.
            if (place == AfterData || first || (png.colourType == 3 && !palette))
                return Trouble::PngDamaged;
            if (place == BeforeData) {
                png.dataAt = png.pixelChunks.size();
                png.dataBegin = at;
            }
            place = InData;
            file.Skip(length);
            if (!file.Ensure(4))
                return Trouble::CannotRead;
            png.dataDigest = Fold(png.dataDigest, length, Big32(file.At()));
            file.Skip(4);
            png.dataEnd = file.Offset();
            continue;
        }
        if (place == InData)
            place = AfterData;
        for (uint64_t done = 0; done < length;) {
            if (!file.Ensure(1))
                return Trouble::CannotRead;
            const size_t count = size_t(std::min<uint64_t>(file.Available(), length - done));
            crc = Crc32(crc, file.At(), count);
            if (keep)
                kept.insert(kept.end(), file.At(), file.At() + count);
            file.Skip(count);
            done += count;
        }
        if (!file.Ensure(4))
            return Trouble::CannotRead;
        const uint32_t stored = Big32(file.At());
        if (crc != stored)
            return Trouble::PngDamaged;
        kept.insert(kept.end(), file.At(), file.At() + 4);
        file.Skip(4);
        const uint8_t* contents = kept.data() + 8;
        if (first) {
            if (!IsType(type, "IHDR") || length != 13)
                return Trouble::PngDamaged;
            if (const Trouble trouble = ReadHeader(contents, png); trouble != Trouble::None)
                return trouble;
        } else if (IsType(type, "IEND")) {
            if (place != AfterData || length != 0 || file.Offset() != size)
                return Trouble::PngDamaged;
            png.pixelChunks.insert(png.pixelChunks.end(), kept.begin(), kept.end());
            return Trouble::None;
        } else if (keep) {
            // Past the image data nothing the pixels depend on may come,
            // nor a palette after the transparency of palette entries.
            bool sound = place == BeforeData;
            if (IsType(type, "PLTE"))
                sound = sound && !transparency && ReadPalette(contents, length, png);
            else if (IsType(type, "tRNS"))
                transparency = transparency || ReadTransparency(contents, length, png);
            else
                sound = false;
            palette = palette || IsType(type, "PLTE");
            if (!sound)
                return Trouble::PngDamaged;
        }
        if (keep)
            png.pixelChunks.insert(png.pixelChunks.end(), kept.begin(), kept.end());
    }
}

Trouble ReadPngFile(const uint8_t* data, size_t size, PngFile& png)
{
    return ReadPngFile(size, [data, size](uint64_t offset, uint8_t* out, size_t bytes) {
        if (offset > size || bytes > size - offset)
            return false;
        std::memcpy(out, data + offset, bytes);
        return true;
    }, png, data);
}

bool PngFile::Copy(const ByteSink& out) const
{
    if (!out(pixelChunks.data(), dataAt))
        return false;
    // The image data chunks as they stand in the file.
    CFileWindow file(*this, dataBegin, dataEnd, c_cbDataWindow);
    while (file.Offset() < dataEnd) {
        if (!file.Ensure(1) || !out(file.At(), file.Available()))
            return false;
        file.Skip(file.Available());
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
    return pixelChunks == other.pixelChunks && dataAt == other.dataAt &&
           dataEnd - dataBegin == other.dataEnd - other.dataBegin && dataDigest == other.dataDigest;
}

namespace {

// Checks the chunks of a run of image data chunks as their bytes pass.
class CChunkChecker
{
public:
    void Take(const uint8_t* bytes, size_t count)
    {
        while (count > 0 && m_bSound) {
            if (m_nDataLeft > 0) {
                const size_t part = size_t(std::min<uint64_t>(count, m_nDataLeft));
                m_crc = Crc32(m_crc, bytes, part);
                m_nDataLeft -= part;
                bytes += part;
                count -= part;
                continue;
            }
            m_field[m_nField++] = *bytes++;
            --count;
            if (m_nField == 8 && !m_bHeaderTaken) {
                m_crc = Crc32(m_field + 4, 4);
                m_nDataLeft = Big32(m_field);
                m_bHeaderTaken = true;
                m_nField = 0;
            } else if (m_nField == 4 && m_bHeaderTaken) {
                m_bSound = Big32(m_field) == m_crc;
                m_bHeaderTaken = false;
                m_nField = 0;
            }
        }
    }
    bool Sound() const { return m_bSound && m_nField == 0 && !m_bHeaderTaken; }

private:
    uint8_t m_field[8];  // a header or a checksum as it comes
    size_t m_nField = 0;
    bool m_bHeaderTaken = false;
    uint64_t m_nDataLeft = 0;
    uint32_t m_crc = 0;
    bool m_bSound = true;
};

} // namespace

bool PngFile::SameData(const PngFile& other, bool* sound) const
{
    if (!LooksSame(other))
        return false;
    CFileWindow mine(*this, dataBegin, dataEnd, c_cbDataWindow);
    CFileWindow theirs(other, other.dataBegin, other.dataEnd, c_cbDataWindow);
    CChunkChecker checker;
    while (mine.Offset() < dataEnd) {
        if (!mine.Ensure(1))
            return false;
        const size_t part = std::min(mine.Available(), c_cbDataWindow);
        if (!theirs.Ensure(part) || std::memcmp(mine.At(), theirs.At(), part) != 0)
            return false;
        if (sound)
            checker.Take(mine.At(), part);
        theirs.Skip(part);
        mine.Skip(part);
    }
    if (sound)
        *sound = checker.Sound();
    return true;
}

bool PaletteIndicesValid(const uint8_t* row, int32_t width, int depth, unsigned entries)
{
    if (entries >= (1u << depth))
        return true;
    for (int32_t x = 0; x < width; ++x) {
        if (PackedSample(row, x, depth) >= entries)
            return false;
    }
    return true;
}

namespace {

// Pictures whose rows take at most this many bytes may be inflated at once.
constexpr uint64_t c_cbMostAtOnce = 12 << 20;

uint64_t RowsSize(const PngFile& png)
{
    return uint64_t(png.height) * (1 + png.RowBytes(png.width));
}

} // namespace

bool InflatesAtOnce(const PngFile& png)
{
#ifdef TOBREL_LIBDEFLATE
    // libdeflate against ISA-L's streaming inflate, measured on 1920 x 1080
    // pictures: a third faster on noise, whose data does not compress (its
    // literals cost ISA-L more); slower by half on photographs and grain
    // (compressed to a half to a fifth). On screenshots of pages it inflates
    // three times as fast, but the pair came out slower: the rows arrive
    // only after the whole picture, when they are few milliseconds' work.
    const uint64_t rows = RowsSize(png), data = png.dataEnd - png.dataBegin;
    return !png.bInterlaced && rows <= c_cbMostAtOnce && rows * 20 <= data * 23;
#else
    (void)png;
    return false;
#endif
}

uint64_t AtOnceMemory(const PngFile& png)
{
    return InflatesAtOnce(png) ? RowsSize(png) + c_cbImageDataSlack + (png.dataEnd - png.dataBegin) : 0;
}

CImageDataStream::CImageDataStream(const PngFile& png, bool checksums)
    : m_window(png, png.dataBegin, png.dataEnd, c_cbDataWindow),
      m_pInput(new (std::nothrow) uint8_t[c_cbInflateInput]), m_bChecksums(checksums), m_nRows(RowsSize(png)),
      m_bAtOnce(InflatesAtOnce(png))
{
    if (!m_window.Allocated() || !m_pInput)
        m_trouble = Trouble::OutOfMemory;
}

void CImageDataStream::InflateAtOnce()
{
    m_bAtOnce = false;
#ifdef TOBREL_LIBDEFLATE
    // The chunks' data is less than the stretch they lie in.
    const uint64_t stretch = m_window.End() - m_window.Offset();
    LargeBuffer data = AllocateLargeBuffer(size_t(stretch));
    LargeBuffer whole = AllocateLargeBuffer(size_t(m_nRows + c_cbImageDataSlack));
    libdeflate_decompressor* inflater = data && whole ? libdeflate_alloc_decompressor() : nullptr;
    if (!inflater)
        return;  // streamed, in less memory
    size_t size = 0;
    const uint8_t* piece;
    for (size_t count; NextPiece(piece, count); size += count)
        std::memcpy(data.get() + size, piece, count);
    size_t used = 0, inflated = 0;
    const libdeflate_result result =
        m_trouble == Trouble::None
            ? libdeflate_zlib_decompress_ex(inflater, data.get(), size, whole.get(), m_nRows + c_cbImageDataSlack, &used,
                                           &inflated)
            : LIBDEFLATE_BAD_DATA;
    libdeflate_free_decompressor(inflater);
    if (result == LIBDEFLATE_SUCCESS && used == size && inflated >= m_nRows) {
        m_pWhole = std::move(whole);
        m_nWhole = inflated;
        m_bEnded = true;
        return;
    }
    // Damage found on the way (a chunk's checksum) stands; anything else
    // the streaming inflate decides, from the data read.
    m_pData = std::move(data);
    m_pIn = m_pData.get();
    m_nIn = size;
#endif
}

CImageDataStream::~CImageDataStream() = default;

bool CImageDataStream::NextInput()
{
    size_t filled = 0;
    while (filled < c_cbInflateInput && m_trouble == Trouble::None) {
        if (m_nPiece == 0 && !NextPiece(m_pPiece, m_nPiece))
            break;
        if (filled == 0 && m_nPiece >= c_cbInflateInput / 2) {
            m_pIn = m_pPiece;
            m_nIn = m_nPiece;
            m_nPiece = 0;
            return true;
        }
        const size_t part = std::min(m_nPiece, c_cbInflateInput - filled);
        std::memcpy(m_pInput.get() + filled, m_pPiece, part);
        filled += part;
        m_pPiece += part;
        m_nPiece -= part;
    }
    m_pIn = m_pInput.get();
    m_nIn = filled;
    return filled > 0;
}

bool CImageDataStream::NextPiece(const uint8_t*& piece, size_t& size)
{
    CFileWindow& file = m_window;
    for (;;) {
        if (m_nChunkLeft > 0) {
            if (!file.Ensure(1))
                break;
            size = size_t(std::min<uint64_t>(m_nChunkLeft, file.Available()));
            piece = file.At();
            if (m_bChecksums)
                m_crc = Crc32(m_crc, piece, size);
            file.Skip(size);
            m_nChunkLeft -= size;
            return true;
        }
        if (m_bChecksumDue) {
            if (!file.Ensure(4))
                break;
            if (m_bChecksums && Big32(file.At()) != m_crc) {
                m_trouble = Trouble::PngDamaged;
                return false;
            }
            file.Skip(4);
            m_bChecksumDue = false;
        }
        if (file.Offset() == file.End())
            return false;
        // The next chunk: an image data chunk that ends inside the run, or
        // the file was changed since it was read.
        if (!file.Ensure(8))
            break;
        m_nChunkLeft = Big32(file.At());
        if (!IsType(file.At() + 4, "IDAT") || m_nChunkLeft + 12 > file.End() - file.Offset()) {
            m_trouble = Trouble::PngDamaged;
            return false;
        }
        m_crc = m_bChecksums ? Crc32(file.At() + 4, 4) : 0;
        m_bChecksumDue = true;
        file.Skip(8);
    }
    m_trouble = file.ReadFailed() ? Trouble::CannotRead : Trouble::PngDamaged;
    return false;
}

Trouble CImageDataStream::Inflate(uint8_t*& out, size_t& room)
{
    while (m_trouble == Trouble::None && !m_bEnded && room > 0) {
        const size_t inBefore = m_nIn, roomBefore = room;
        const InflateStatus status = m_inflater.Run(m_pIn, m_nIn, out, room);
        if (status == InflateStatus::More && m_nIn > 0 && room > 0 && m_nIn == inBefore && room == roomBefore)
            m_trouble = Trouble::PngDamaged;  // stuck: no inflate stops so unless the data is wrong
        else if (status == InflateStatus::Damaged)
            m_trouble = Trouble::PngDamaged;
        else if (status == InflateStatus::OutOfMemory)
            m_trouble = Trouble::OutOfMemory;
        else if (status == InflateStatus::End)
            m_bEnded = true;
        else if (room > 0 && m_nIn == 0 && !NextInput() && m_trouble == Trouble::None)
            m_trouble = Trouble::PngDamaged;  // the stream stops before its end
    }
    return m_trouble;
}

Trouble CImageDataStream::Read(uint8_t* out, size_t size)
{
    if (m_bAtOnce && m_trouble == Trouble::None)
        InflateAtOnce();
    if (m_pWhole) {
        if (size > m_nWhole - m_nWholeRead)
            return m_trouble = Trouble::PngDamaged;
        std::memcpy(out, m_pWhole.get() + m_nWholeRead, size);
        m_nWholeRead += size;
        return Trouble::None;
    }
    if (Inflate(out, size) != Trouble::None)
        return m_trouble;
    // Rows missing: the stream ended first.
    return size == 0 ? Trouble::None : (m_trouble = Trouble::PngDamaged);
}

Trouble CImageDataStream::Finish(uint64_t slack)
{
    if (m_bAtOnce && m_trouble == Trouble::None)
        InflateAtOnce();
    if (m_pWhole && m_nWhole - m_nWholeRead > slack)
        return m_trouble = Trouble::PngDamaged;
    uint8_t scratch[16 * 1024];
    // The stream may hold a little more than the rows, not more: one byte
    // past the slack is enough to tell.
    for (uint64_t more = 0; !m_bEnded && m_trouble == Trouble::None;) {
        if (more > slack)
            return m_trouble = Trouble::PngDamaged;
        uint8_t* out = scratch;
        size_t room = size_t(std::min<uint64_t>(sizeof scratch, slack + 1 - more));
        Inflate(out, room);
        more += uint64_t(out - scratch);
        if (m_bEnded && more > slack)
            return m_trouble = Trouble::PngDamaged;
    }
    if (m_trouble != Trouble::None)
        return m_trouble;
    // Nothing may follow the end: neither in its chunk nor after it (empty
    // chunks, whose checksums are checked on the way).
    if (m_nIn > 0 || m_inflater.Unread() > 0 || NextInput())
        return m_trouble = Trouble::PngDamaged;
    return m_trouble;
}

Trouble CheckPngRows(const PngFile& png, bool checksums)
{
    if (png.Samples() == 0 || png.bInterlaced)
        return Trouble::PngDamaged;
    const uint64_t rowBytes = 1 + png.RowBytes(png.width);
    CImageDataStream stream(png, checksums);
    std::vector<uint8_t> piece(size_t(std::min<uint64_t>(rowBytes, 1 << 16)));
    for (int32_t y = 0; y < png.height; ++y) {
        // Unfiltering knows five filter types.
        for (uint64_t done = 0; done < rowBytes;) {
            const size_t count = size_t(std::min<uint64_t>(piece.size(), rowBytes - done));
            if (const Trouble trouble = stream.Read(piece.data(), count); trouble != Trouble::None)
                return trouble;
            if (done == 0 && piece[0] > 4)
                return Trouble::PngDamaged;
            done += count;
        }
    }
    return stream.Finish();
}
