#include "Inflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// ISA-L's AVX2 and AVX-512 routines return without clearing the upper
// halves of the vector registers, which makes every legacy SSE instruction
// after them slow on some processors: they are cleared after each call.
#if defined(__x86_64__)
__attribute__((target("avx"))) void ZeroUpper()
{
    _mm256_zeroupper();
}

void ClearUpperState()
{
    static const bool s_bAvx = __builtin_cpu_supports("avx");
    if (s_bAvx)
        ZeroUpper();
}
#else
void ClearUpperState() {}
#endif

} // namespace

struct CInflater::State
{
    inflate_state stream;
    // The zlib header is read here, byte by byte as it comes (it may be
    // split between chunks): ISA-L checks neither the window size nor, as a
    // failure, a preset dictionary.
    uint8_t header[2];
    int headerBytes = 0;
};

CInflater::CInflater() : m_pState(new (std::nothrow) State)
{
    if (m_pState) {
        isal_inflate_init(&m_pState->stream);
        // The raw deflate data follows the header; the Adler-32 after it is
        // checked.
        m_pState->stream.crc_flag = ISAL_ZLIB_NO_HDR_VER;
    }
}

CInflater::~CInflater() = default;

InflateStatus CInflater::Run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize)
{
    if (!m_pState)
        return InflateStatus::OutOfMemory;
    State& state = *m_pState;
    while (state.headerBytes < 2) {
        if (inSize == 0)
            return InflateStatus::More;
        state.header[state.headerBytes++] = *in++;
        --inSize;
        if (state.headerBytes == 2) {
            const unsigned cmf = state.header[0], flg = state.header[1];
            const bool deflate = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
            if (!deflate || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0)
                return InflateStatus::Damaged;
        }
    }
    inflate_state& stream = state.stream;
    if (stream.block_state == ISAL_BLOCK_FINISH)
        return InflateStatus::End;
    // ISA-L counts in 32 bits: large pieces go through in parts. It is
    // called once even without input: it may hold output still.
    int status = ISAL_DECOMP_OK;
    do {
        const uint32_t inPart = uint32_t(std::min<size_t>(inSize, 1u << 30));
        const uint32_t outPart = uint32_t(std::min<size_t>(outSize, 1u << 30));
        stream.next_in = const_cast<uint8_t*>(in);
        stream.avail_in = inPart;
        stream.next_out = out;
        stream.avail_out = outPart;
        status = isal_inflate(&stream);
        ClearUpperState();
        in += inPart - stream.avail_in;
        inSize -= inPart - stream.avail_in;
        out += outPart - stream.avail_out;
        outSize -= outPart - stream.avail_out;
    } while (status == ISAL_DECOMP_OK && stream.block_state != ISAL_BLOCK_FINISH && inSize > 0 && outSize > 0);
    // Every status but OK is a failure here, the positive ones too (a
    // dictionary asked for); a stream cut short is OK without the finish.
    if (status != ISAL_DECOMP_OK)
        return InflateStatus::Damaged;
    return stream.block_state == ISAL_BLOCK_FINISH ? InflateStatus::End : InflateStatus::More;
}

size_t CInflater::Unread() const
{
    // Whole bytes still in the bit buffer were taken from the input but
    // follow the stream.
    return m_pState && m_pState->stream.block_state == ISAL_BLOCK_FINISH
               ? size_t(m_pState->stream.read_in_length > 0 ? m_pState->stream.read_in_length / 8 : 0)
               : 0;
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    // PNG's CRC is gzip's: the reflected IEEE polynomial, with its
    // complements, as zlib's crc32 computes it.
    while (size > 0) {
        const uint64_t part = std::min<size_t>(size, 1u << 30);
        crc = crc32_gzip_refl(crc, data, part);
        ClearUpperState();
        data += part;
        size -= part;
    }
    return crc;
}
