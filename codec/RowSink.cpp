#include "RowSink.h"

#include "BmpFormat.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

void PutBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

class CPngSink : public CRowSink
{
public:
    CPngSink(ByteSink out, int32_t width, int32_t height, int channels)
        : m_out(std::move(out)), m_nChannels(channels), m_nRowsLeft(height),
          m_row(1 + size_t(width) * size_t(channels)), m_compressed(c_cbChunk)
    {
        // Level 1 with runs only: a difference image is mostly flat, and
        // pictures of screens are runs of a colour after the Sub filter.
        m_bOk = deflateInit2(&m_stream, 1, Z_DEFLATED, 15, 8, Z_RLE) == Z_OK;
        m_bStarted = m_bOk;
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        uint8_t header[13];
        PutBigEndian(header, uint32_t(width));
        PutBigEndian(header + 4, uint32_t(height));
        header[8] = 8;                        // bits a sample
        header[9] = channels == 4 ? 6 : 2;    // RGBA or RGB
        header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, not interlaced
        m_bOk = m_bOk && m_out(signature, sizeof signature) && Chunk("IHDR", header, sizeof header);
    }

    ~CPngSink() override
    {
        if (m_bStarted)
            deflateEnd(&m_stream);
    }

    bool Row(const uint8_t* pixels) override
    {
        if (!m_bOk || m_nRowsLeft <= 0)
            return m_bOk = false;
        --m_nRowsLeft;
        // Sub: each byte less the same channel of the pixel before it; the
        // colours go from blue, green, red to red, green, blue on the way.
        uint8_t* out = m_row.data();
        *out++ = 1;
        const size_t width = (m_row.size() - 1) / size_t(m_nChannels);
        uint8_t previous[4] = {};
        for (size_t x = 0; x < width; ++x, pixels += m_nChannels, out += m_nChannels) {
            const uint8_t pixel[4] = {pixels[2], pixels[1], pixels[0], m_nChannels == 4 ? pixels[3] : uint8_t(0)};
            for (int c = 0; c < m_nChannels; ++c)
                out[c] = uint8_t(pixel[c] - previous[c]);
            std::memcpy(previous, pixel, 4);
        }
        return m_bOk = Deflate(m_row.data(), m_row.size(), Z_NO_FLUSH);
    }

    bool Finish() override
    {
        m_bOk = m_bOk && m_nRowsLeft == 0 && Deflate(nullptr, 0, Z_FINISH) && Chunk("IEND", nullptr, 0);
        return m_bOk;
    }

private:
    // Image data in chunks of about this size.
    static constexpr size_t c_cbChunk = 256 * 1024;

    bool Chunk(const char* type, const uint8_t* data, size_t bytes)
    {
        uint8_t head[8];
        PutBigEndian(head, uint32_t(bytes));
        std::memcpy(head + 4, type, 4);
        uLong crc = crc32(0, head + 4, 4);
        if (bytes)
            crc = crc32_z(crc, data, bytes);
        uint8_t tail[4];
        PutBigEndian(tail, uint32_t(crc));
        return m_out(head, sizeof head) && (bytes == 0 || m_out(data, bytes)) && m_out(tail, sizeof tail);
    }

    bool Deflate(const uint8_t* data, size_t bytes, int flush)
    {
        m_stream.next_in = const_cast<Bytef*>(data);
        m_stream.avail_in = uInt(bytes);
        for (;;) {
            m_stream.next_out = m_compressed.data() + m_nCompressed;
            m_stream.avail_out = uInt(m_compressed.size() - m_nCompressed);
            const int status = deflate(&m_stream, flush);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return false;
            m_nCompressed = m_compressed.size() - m_stream.avail_out;
            const bool ended = status == Z_STREAM_END;
            if (m_nCompressed == m_compressed.size() || (ended && m_nCompressed > 0)) {
                if (!Chunk("IDAT", m_compressed.data(), m_nCompressed))
                    return false;
                m_nCompressed = 0;
            }
            if (ended)
                return true;
            if (m_stream.avail_in == 0 && m_stream.avail_out > 0 && flush == Z_NO_FLUSH)
                return true;
        }
    }

    ByteSink m_out;
    int m_nChannels;
    int32_t m_nRowsLeft;
    z_stream m_stream = {};
    std::vector<uint8_t> m_row;
    std::vector<uint8_t> m_compressed;
    size_t m_nCompressed = 0;
    bool m_bStarted = false;
    bool m_bOk = false;
};

class CBmpSink : public CRowSink
{
public:
    CBmpSink(ByteSink out, int32_t width, int32_t height, const uint8_t* header)
        : m_out(std::move(out)), m_cbPixels(3 * size_t(width)), m_nRowsLeft(height),
          m_row(size_t(BmpStride(width)), 0)
    {
        m_bOk = m_out(header, c_cbHeaders);
    }

    bool Row(const uint8_t* pixels) override
    {
        if (!m_bOk || m_nRowsLeft <= 0)
            return m_bOk = false;
        --m_nRowsLeft;
        std::memcpy(m_row.data(), pixels, m_cbPixels);  // the padding behind stays zero
        return m_bOk = m_out(m_row.data(), m_row.size());
    }

    bool Finish() override { return m_bOk && m_nRowsLeft == 0; }

private:
    ByteSink m_out;
    size_t m_cbPixels;
    int32_t m_nRowsLeft;
    std::vector<uint8_t> m_row;
    bool m_bOk = false;
};

} // namespace

std::unique_ptr<CRowSink> NewPngSink(ByteSink out, int32_t width, int32_t height, int channels)
{
    return std::make_unique<CPngSink>(std::move(out), width, height, channels);
}

std::unique_ptr<CRowSink> NewBmpSink(ByteSink out, int32_t width, int32_t height)
{
    uint8_t header[c_cbHeaders];
    if (!EncodeBmpHeaders(ImageBuffer{width, height, BmpStride(width), nullptr}, header))
        return nullptr;
    // Top first: the height is stored negated.
    const uint32_t topDown = uint32_t(-height);
    for (int i = 0; i < 4; ++i)
        header[22 + i] = uint8_t(topDown >> (8 * i));
    return std::make_unique<CBmpSink>(std::move(out), width, height, header);
}
