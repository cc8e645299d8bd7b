#include "RowSink.h"

#include "BmpFormat.h"
#include "Inflate.h"

#include <zlib.h>
#ifdef TOBREL_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define TOBREL_X86 1
#include <immintrin.h>
#endif

namespace {

// A zlib stream made from pieces of input: Put takes them, Finish ends the
// stream; the compressed bytes go to `out` a buffer at a time. Intel's
// ISA-L where the build has it (several times zlib's speed at its fastest
// level), zlib's fastest level with runs only elsewhere.
class CDeflater
{
public:
    explicit CDeflater(std::function<bool(const uint8_t*, size_t)> out) : m_out(std::move(out)), m_buffer(c_cbBuffer)
    {
#ifdef TOBREL_ISAL
        isal_deflate_init(&m_stream);
        m_level.reset(new (std::nothrow) uint8_t[ISAL_DEF_LVL1_DEFAULT]);
        m_stream.level = 1;
        m_stream.level_buf = m_level.get();
        m_stream.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
        m_stream.gzip_flag = IGZIP_ZLIB;
        m_bOk = m_level != nullptr;
#else
        // Level 1 with runs only: a difference image is mostly flat, and
        // pictures of screens are runs of a colour after the Sub filter.
        m_bOk = deflateInit2(&m_stream, 1, Z_DEFLATED, 15, 8, Z_RLE) == Z_OK;
        m_bStarted = m_bOk;
#endif
    }

    ~CDeflater()
    {
#ifndef TOBREL_ISAL
        if (m_bStarted)
            deflateEnd(&m_stream);
#endif
    }

    bool Put(const uint8_t* data, size_t bytes) { return m_bOk = m_bOk && Run(data, bytes, false); }
    bool Finish() { return m_bOk = m_bOk && Run(nullptr, 0, true); }

private:
    static constexpr size_t c_cbBuffer = 256 * 1024;

    bool Run(const uint8_t* data, size_t bytes, bool last)
    {
        m_stream.next_in = const_cast<uint8_t*>(data);
        m_stream.avail_in = uint32_t(bytes);
        for (;;) {
            m_stream.next_out = m_buffer.data() + m_nFull;
            m_stream.avail_out = uint32_t(m_buffer.size() - m_nFull);
#ifdef TOBREL_ISAL
            m_stream.end_of_stream = last;
            const bool failed = isal_deflate(&m_stream) != COMP_OK;
            ClearUpperState();
            const bool ended = m_stream.internal_state.state == ZSTATE_END;
#else
            const int status = deflate(&m_stream, last ? Z_FINISH : Z_NO_FLUSH);
            const bool failed = status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR;
            const bool ended = status == Z_STREAM_END;
#endif
            if (failed)
                return false;
            m_nFull = m_buffer.size() - m_stream.avail_out;
            if (m_nFull == m_buffer.size() || (ended && m_nFull > 0)) {
                if (!m_out(m_buffer.data(), m_nFull))
                    return false;
                m_nFull = 0;
            }
            if (ended || (!last && m_stream.avail_in == 0 && m_stream.avail_out > 0))
                return true;
        }
    }

    // ISA-L's AVX2 routines return without clearing the upper halves of
    // the vector registers, which slows every SSE instruction after them.
    static void ClearUpperState()
    {
#if defined(TOBREL_ISAL) && defined(TOBREL_X86)
        static const bool s_bAvx = __builtin_cpu_supports("avx");
        if (s_bAvx)
            ZeroUpper();
#endif
    }

#if defined(TOBREL_ISAL) && defined(TOBREL_X86)
    __attribute__((target("avx"))) static void ZeroUpper() { _mm256_zeroupper(); }
#endif

    std::function<bool(const uint8_t*, size_t)> m_out;
    std::vector<uint8_t> m_buffer;
    size_t m_nFull = 0;
#ifdef TOBREL_ISAL
    isal_zstream m_stream = {};
    std::unique_ptr<uint8_t[]> m_level;
#else
    z_stream m_stream = {};
    bool m_bStarted = false;
#endif
    bool m_bOk = false;
};

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
    CPngSink(ByteSink out, int32_t width, int32_t height, int channels, bool bgr)
        : m_out(std::move(out)), m_nChannels(channels), m_bBgr(bgr), m_nRowsLeft(height),
          m_row(1 + size_t(width) * size_t(channels)), m_rgb(bgr ? m_row.size() - 1 : 0),
          m_deflater([this](const uint8_t* data, size_t bytes) { return Chunk("IDAT", data, bytes); })
    {
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        uint8_t header[13];
        PutBigEndian(header, uint32_t(width));
        PutBigEndian(header + 4, uint32_t(height));
        header[8] = 8;                        // bits a sample
        header[9] = channels == 4 ? 6 : 2;    // RGBA or RGB
        header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, not interlaced
        m_bOk = m_out(signature, sizeof signature) && Chunk("IHDR", header, sizeof header);
    }

    bool Row(const uint8_t* pixels) override
    {
        if (!m_bOk || m_nRowsLeft <= 0)
            return m_bOk = false;
        --m_nRowsLeft;
        const size_t bytes = m_row.size() - 1;
        if (m_bBgr) {
            for (size_t i = 0; i < bytes; i += size_t(m_nChannels)) {
                m_rgb[i] = pixels[i + 2];
                m_rgb[i + 1] = pixels[i + 1];
                m_rgb[i + 2] = pixels[i];
                if (m_nChannels == 4)
                    m_rgb[i + 3] = pixels[i + 3];
            }
            pixels = m_rgb.data();
        }
        // Sub: each byte less the same channel of the pixel before it.
        m_row[0] = 1;
        Sub(pixels, m_row.data() + 1, bytes, size_t(m_nChannels));
        return m_bOk = m_deflater.Put(m_row.data(), m_row.size());
    }

    bool Finish() override
    {
        return m_bOk = m_bOk && m_nRowsLeft == 0 && m_deflater.Finish() && Chunk("IEND", nullptr, 0);
    }

private:
    static void Sub(const uint8_t* __restrict pixels, uint8_t* __restrict out, size_t bytes, size_t channels)
    {
        std::memcpy(out, pixels, std::min(bytes, channels));
        for (size_t i = channels; i < bytes; ++i)
            out[i] = uint8_t(pixels[i] - pixels[i - channels]);
    }

    bool Chunk(const char* type, const uint8_t* data, size_t bytes)
    {
        uint8_t head[8];
        PutBigEndian(head, uint32_t(bytes));
        std::memcpy(head + 4, type, 4);
        uint32_t crc = Crc32(head + 4, 4);
        if (bytes)
            crc = Crc32(crc, data, bytes);
        uint8_t tail[4];
        PutBigEndian(tail, uint32_t(crc));
        return m_out(head, sizeof head) && (bytes == 0 || m_out(data, bytes)) && m_out(tail, sizeof tail);
    }

    ByteSink m_out;
    int m_nChannels;
    bool m_bBgr;
    int32_t m_nRowsLeft;
    std::vector<uint8_t> m_row;
    std::vector<uint8_t> m_rgb;  // a row turned red first
    CDeflater m_deflater;
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

std::unique_ptr<CRowSink> NewPngSink(ByteSink out, int32_t width, int32_t height, int channels, bool bgr)
{
    return std::make_unique<CPngSink>(std::move(out), width, height, channels, bgr);
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
