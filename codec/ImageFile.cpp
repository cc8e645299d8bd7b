#include "ImageFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

CImageFile::CImageFile() = default;
CImageFile::~CImageFile() = default;

namespace {

// PNG files of this size are mapped: from a megabyte, where reading costs
// more than mapping, to sixteen, as a mapped file's pages count as the
// program's memory while it runs.
constexpr uint64_t c_cbLeastMappedPng = 1 << 20, c_cbMostMappedPng = 16 << 20;

} // namespace

Trouble CImageFile::Open(const std::string& path)
{
    if (!m_file.Open(path.c_str()))
        return Trouble::CannotRead;
    uint8_t head[c_cbHeaders] = {};
    const size_t available = size_t(std::min<uint64_t>(m_file.Size(), c_cbHeaders));
    if (!m_file.ReadAt(0, head, available))
        return Trouble::CannotRead;
    m_format = SniffFormat(head, available);
    if (m_format != ImageFormat::Bmp && m_format != ImageFormat::Png) {
        const Trouble trouble = Blame(OpenRowDecoder(m_format, m_file, m_pLibrary));
        if (trouble != Trouble::None)
            return trouble;
        m_nWidth = m_pLibrary->Width();
        m_nHeight = m_pLibrary->Height();
        // Coordinates of differences are kept in 16 bits, as BMP and PNG
        // sides are.
        if (m_nWidth > 65535 || m_nHeight > 65535)
            return Trouble::ImageTooLarge;
        return m_nWidth > 0 && m_nHeight > 0 ? Trouble::None : Trouble::NotBitmap;
    }
    if (m_format == ImageFormat::Bmp) {
        const Trouble trouble = TroubleOf(ParseBmpHeaders(head, available, m_file.Size(), m_layout));
        m_nWidth = m_layout.width;
        m_nHeight = m_layout.height;
        // Mapped where that is safe: the rows are then read in place.
        if (trouble == Trouble::None)
            m_pMapped = m_file.Map();
        return trouble;
    }
    // Read in pieces, never held whole: the image data is read again as it
    // is decoded.
    // A large file is walked and inflated straight from its mapping, where
    // that is safe: copying it out of the system's cache cost a quarter of
    // a large pair's time.
    const uint64_t size = m_file.Size();
    const uint8_t* mapped = size >= c_cbLeastMappedPng && size <= c_cbMostMappedPng ? m_file.Map() : nullptr;
    Trouble trouble = ReadPngFile(m_file.Size(), [this](uint64_t offset, uint8_t* out, size_t bytes) {
        return m_file.ReadAt(offset, out, bytes);
    }, m_png, mapped);
    trouble = Blame(trouble);
    m_nWidth = m_png.width;
    m_nHeight = m_png.height;
    return trouble;
}

int32_t CImageFile::RowsPerBand(size_t bytes) const
{
    return int32_t(std::clamp<size_t>(bytes / size_t(m_layout.stride), 1, size_t(m_nHeight)));
}

bool CImageFile::MappedPicture(ImageView& picture) const
{
    std::vector<uint8_t> unused;
    return m_format == ImageFormat::Bmp && m_pMapped && ReadRows(0, m_nHeight, unused, picture) == Trouble::None;
}

Trouble CImageFile::ReadRows(int32_t firstRow, int32_t endRow, std::vector<uint8_t>& buffer, ImageView& rows) const
{
    // The rows lie together in the file: from the band's bottom row up in a
    // bottom-up file, from its top row down in a top-down one.
    const BmpLayout& layout = m_layout;
    const int32_t count = endRow - firstRow;
    const int32_t firstStored = layout.bTopDown ? firstRow : layout.height - endRow;
    const uint64_t offset = layout.pixelOffset + uint64_t(firstStored) * uint64_t(layout.stride);
    const uint8_t* band = m_pMapped ? m_pMapped + offset : nullptr;
    if (!band) {
        const size_t bytes = size_t(count) * size_t(layout.stride);
        if (buffer.size() < bytes)
            buffer.resize(bytes);
        if (!m_file.ReadAt(offset, buffer.data(), bytes))
            return Trouble::CannotRead;
        band = buffer.data();
    }
    const ptrdiff_t stride = layout.stride;
    rows = layout.bTopDown ? ImageView{layout.width, count, 3, band, stride}
                           : ImageView{layout.width, count, 3, band + (count - 1) * stride, -stride};
    return Trouble::None;
}

Trouble CImageFile::Decode(int channels, CImage& image)
{
    if (IsPngFile())
        return Blame(DecodePng(m_png, channels, image));
    if (!image.Allocate(m_nWidth, m_nHeight, channels))
        return Trouble::OutOfMemory;
    Start(channels);
    const int32_t bandRows = RowsPerBand(c_cbReadBand);
    for (int32_t top = 0; top < m_nHeight; top += bandRows) {
        if (const Trouble trouble = Next(std::min(bandRows, m_nHeight - top), image.Row(top)); trouble != Trouble::None)
            return trouble;
    }
    return Finish();
}

Trouble CImageFile::CheckUnchanged() const
{
    return m_file.Unchanged() ? Trouble::None : Trouble::CannotRead;
}

bool CImageFile::Digest(uint64_t& size, uint32_t& crc) const
{
    constexpr size_t c_cbPiece = 1 << 20;
    size = m_file.Size();
    // A mapped file is at hand: its pages read as zeros once it is cut
    // short, and it then no longer counts as unchanged.
    if (const uint8_t* mapped = m_pMapped ? m_pMapped : m_png.mapped) {
        crc = Crc32(mapped, size_t(size));
        return m_file.Unchanged();
    }
    const std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[c_cbPiece]);
    crc = 0;
    for (uint64_t at = 0; piece && at < size; at += c_cbPiece) {
        const size_t bytes = size_t(std::min<uint64_t>(c_cbPiece, size - at));
        if (!m_file.ReadAt(at, piece.get(), bytes))
            return false;
        crc = Crc32(crc, piece.get(), bytes);
    }
    return piece && m_file.Unchanged();
}

Trouble CImageFile::Blame(Trouble trouble) const
{
    // Damage that came from a file changing meanwhile is a failed read.
    return trouble != Trouble::None && !m_file.Unchanged() ? Trouble::CannotRead : trouble;
}

uint64_t CImageFile::StartMemory(int channels) const
{
    if (m_pLibrary)
        return m_pLibrary->StartMemory(channels);
    if (!IsPngFile())
        return 0;
    return CPngRowDecoder::Streams(m_png) ? AtOnceMemory(m_png) : PngDecodeMemory(m_png, channels);
}

Trouble CImageFile::Start(int channels, bool fileOrder)
{
    m_nChannels = channels;
    m_nNextRow = 0;
    if (m_pLibrary)
        return Blame(m_pLibrary->Start(channels));
    if (!IsPngFile())
        return Trouble::None;
    m_pDecoder = std::make_unique<CPngRowDecoder>(m_png, channels, fileOrder);
    if (CPngRowDecoder::Streams(m_png))
        return Trouble::None;
    const std::unique_ptr<CPngRowDecoder> decoder = std::move(m_pDecoder);
    if (!m_whole.Allocate(m_nWidth, m_nHeight, channels))
        return Trouble::OutOfMemory;
    return Blame(decoder->Interlaced(m_whole));
}

Trouble CImageFile::Next(int32_t count, uint8_t* out)
{
    const int32_t top = m_nNextRow;
    if (count < 0 || count > m_nHeight - top)
        return Trouble::CannotRead;
    m_nNextRow += count;
    const size_t bytes = size_t(m_nWidth) * size_t(m_nChannels);
    if (m_pDecoder)
        return Blame(m_pDecoder->Rows(count, out));
    if (m_pLibrary)
        return Blame(m_pLibrary->Rows(count, out));
    if (IsPngFile()) {
        for (int32_t k = 0; k < count; ++k)
            std::memcpy(out + size_t(k) * bytes, m_whole.View().Row(top + k), bytes);
        return Trouble::None;
    }
    ImageView rows;
    if (const Trouble trouble = ReadRows(top, top + count, m_band, rows); trouble != Trouble::None)
        return trouble;
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t* source = rows.Row(k);
        uint8_t* target = out + size_t(k) * bytes;
        if (m_nChannels == 3) {
            std::memcpy(target, source, bytes);
            continue;
        }
        for (int32_t x = 0; x < m_nWidth; ++x, target += 4, source += 3) {
            target[0] = source[0];
            target[1] = source[1];
            target[2] = source[2];
            target[3] = 255;
        }
    }
    return Trouble::None;
}

Trouble CImageFile::Finish()
{
    if (m_pLibrary) {
        if (const Trouble trouble = Blame(m_pLibrary->Finish()); trouble != Trouble::None)
            return trouble;
    }
    if (m_pDecoder) {
        const Trouble trouble = Blame(m_pDecoder->Finish());
        m_pDecoder.reset();
        if (trouble != Trouble::None)
            return trouble;
    }
    m_whole = CImage();
    m_band = std::vector<uint8_t>();
    return CheckUnchanged();
}
