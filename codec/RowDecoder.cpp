#include "RowDecoder.h"

#include "LibraryDecoders.h"

#include <algorithm>
#include <cstring>
#include <new>

ImageFormat SniffFormat(const uint8_t* data, size_t size)
{
    const auto begins = [&](const char* magic, size_t length, size_t at = 0) {
        return size >= at + length && std::memcmp(data + at, magic, length) == 0;
    };
    if (begins("\x89PNG\r\n\x1a\n", 8))
        return ImageFormat::Png;
    if (begins("\xff\xd8\xff", 3))
        return ImageFormat::Jpeg;
    if (begins("RIFF", 4) && begins("WEBP", 4, 8))
        return ImageFormat::Webp;
    // Classic and big TIFF, in either byte order.
    if (begins("II*\0", 4) || begins("MM\0*", 4) || begins("II+\0", 4) || begins("MM\0+", 4))
        return ImageFormat::Tiff;
    if (begins("GIF87a", 6) || begins("GIF89a", 6))
        return ImageFormat::Gif;
    return ImageFormat::Bmp;
}

Trouble OpenRowDecoder(ImageFormat format, const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    decoder.reset();
    Trouble trouble = Trouble::NotBitmap;
    switch (format) {
    case ImageFormat::Jpeg: trouble = OpenJpegDecoder(file, decoder); break;
    case ImageFormat::Webp: trouble = OpenWebpDecoder(file, decoder); break;
    case ImageFormat::Tiff: trouble = OpenTiffDecoder(file, decoder); break;
    case ImageFormat::Gif: trouble = OpenGifDecoder(file, decoder); break;
    default: break;
    }
    if (trouble != Trouble::None)
        decoder.reset();
    return trouble;
}

Trouble CWholeDecoder::Start(int channels)
{
    m_nNextRow = 0;
    if (!m_whole.Allocate(m_nWidth, m_nHeight, channels))
        return Trouble::OutOfMemory;
    return Decode(m_whole);
}

Trouble CWholeDecoder::Rows(int32_t count, uint8_t* out)
{
    const ImageView& view = m_whole.View();
    if (count < 0 || count > m_nHeight - m_nNextRow || !view.top)
        return Trouble::CannotRead;
    const size_t bytes = size_t(view.width) * size_t(view.channels);
    std::memcpy(out, view.Row(m_nNextRow), bytes * size_t(count));
    m_nNextRow += count;
    return Trouble::None;
}

Trouble CWholeDecoder::Finish()
{
    m_whole = CImage();
    return Trouble::None;
}

CFileStream::CFileStream(const CInputFile& file, size_t capacity)
    : m_file(file), m_pBuffer(new (std::nothrow) uint8_t[capacity]), m_nCapacity(capacity)
{
}

size_t CFileStream::Next(const uint8_t*& data)
{
    data = m_pBuffer.get();
    if (m_bFailed || !m_pBuffer || m_nOffset >= m_file.Size())
        return 0;
    const size_t bytes = size_t(std::min<uint64_t>(m_nCapacity, m_file.Size() - m_nOffset));
    if (!m_file.ReadAt(m_nOffset, m_pBuffer.get(), bytes)) {
        m_bFailed = true;
        return 0;
    }
    m_nOffset += bytes;
    return bytes;
}
