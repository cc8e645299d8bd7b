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

// Blue and red swapped in as many whole pixels as vector shuffles reach,
// reading and writing nothing past `bytes`; the bytes done.
#if defined(TOBREL_X86)
__attribute__((target("ssse3"))) size_t SwapRedBlueSsse3(const uint8_t* pixels, uint8_t* out, size_t bytes,
                                                          int channels)
{
    const __m128i order = channels == 3 ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15)
                                        : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const size_t step = channels == 3 ? 15 : 16;  // whole pixels: five of three bytes, four of four
    size_t i = 0;
    for (; i + 16 <= bytes; i += step) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_shuffle_epi8(v, order));
    }
    return i;
}

size_t SwapRedBlueVector(const uint8_t* pixels, uint8_t* out, size_t bytes, int channels)
{
    static const bool s_bSsse3 = __builtin_cpu_supports("ssse3");
    return s_bSsse3 ? SwapRedBlueSsse3(pixels, out, bytes, channels) : 0;
}
#elif defined(__aarch64__)
size_t SwapRedBlueVector(const uint8_t* pixels, uint8_t* out, size_t bytes, int channels)
{
    using Bytes16 = uint8_t __attribute__((vector_size(16)));
    const Bytes16 order = channels == 3 ? Bytes16{2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15}
                                        : Bytes16{2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15};
    const size_t step = channels == 3 ? 15 : 16;
    size_t i = 0;
    for (; i + 16 <= bytes; i += step) {
        Bytes16 v;
        std::memcpy(&v, pixels + i, 16);
        v = __builtin_shuffle(v, order);
        std::memcpy(out + i, &v, 16);
    }
    return i;
}
#else
size_t SwapRedBlueVector(const uint8_t*, uint8_t*, size_t, int)
{
    return 0;
}
#endif

class CPngSink : public CRowSink
{
public:
    CPngSink(ByteSink out, int32_t width, int32_t height, int channels, bool bgr)
        : m_out(std::move(out)), m_nChannels(channels), m_bBgr(bgr), m_nRowsLeft(height),
          m_nRowBytes(size_t(width) * size_t(channels)), m_rgb(bgr ? m_nRowBytes : 0),
          m_batch(std::max(m_nRowBytes + 1, std::min<size_t>(c_cbBatch, size_t(height) * (m_nRowBytes + 1)))),
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
        if (m_bBgr) {
            SwapRedBlue(pixels, m_rgb.data(), m_nRowBytes, m_nChannels);
            pixels = m_rgb.data();
        }
        // Rows are gathered and deflated a batch at a time: the deflate
        // copies what it is given in small pieces into a buffer of its own.
        if (m_batch.size() - m_nBatched < m_nRowBytes + 1 && !Flush())
            return false;
        uint8_t* row = m_batch.data() + m_nBatched;
        row[0] = 1;  // Sub: each byte less the same channel of the pixel before it
        Sub(pixels, row + 1, m_nRowBytes, size_t(m_nChannels));
        m_nBatched += m_nRowBytes + 1;
        return true;
    }

    bool Finish() override
    {
        return m_bOk = m_bOk && m_nRowsLeft == 0 && Flush() && m_deflater.Finish() && Chunk("IEND", nullptr, 0);
    }

private:
    static constexpr size_t c_cbBatch = 128 * 1024;

    bool Flush()
    {
        m_bOk = m_bOk && (m_nBatched == 0 || m_deflater.Put(m_batch.data(), m_nBatched));
        m_nBatched = 0;
        return m_bOk;
    }

    // Sixteen bytes at a time where the compiler has vectors of them
    // (SSE2, NEON), unaligned loads and stores through memcpy.
    using Bytes16 = uint8_t __attribute__((vector_size(16)));

    static void Sub(const uint8_t* __restrict pixels, uint8_t* __restrict out, size_t bytes, size_t channels)
    {
        size_t i = std::min(bytes, channels);
        std::memcpy(out, pixels, i);
        for (; i + 16 <= bytes; i += 16) {
            Bytes16 now, before;
            std::memcpy(&now, pixels + i, 16);
            std::memcpy(&before, pixels + i - channels, 16);
            now -= before;
            std::memcpy(out + i, &now, 16);
        }
        for (; i < bytes; ++i)
            out[i] = uint8_t(pixels[i] - pixels[i - channels]);
    }

    // Blue first to red first: five pixels of three bytes, or four of four,
    // turned in one byte shuffle where the processor has one.
    static void SwapRedBlue(const uint8_t* __restrict pixels, uint8_t* __restrict out, size_t bytes, int channels)
    {
        size_t i = SwapRedBlueVector(pixels, out, bytes, channels);
        for (; i < bytes; i += size_t(channels)) {
            out[i] = pixels[i + 2];
            out[i + 1] = pixels[i + 1];
            out[i + 2] = pixels[i];
            if (channels == 4)
                out[i + 3] = pixels[i + 3];
        }
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
    size_t m_nRowBytes;
    std::vector<uint8_t> m_rgb;  // a row turned red first
    std::vector<uint8_t> m_batch;  // filtered rows not yet deflated
    size_t m_nBatched = 0;
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
