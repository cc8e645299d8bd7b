#include "Inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

struct CInflater::State
{
    z_stream stream = {};
    bool bStarted = false;
};

CInflater::CInflater() : m_pState(new (std::nothrow) State)
{
    if (m_pState)
        m_pState->bStarted = inflateInit(&m_pState->stream) == Z_OK;
}

CInflater::~CInflater()
{
    if (m_pState && m_pState->bStarted)
        inflateEnd(&m_pState->stream);
}

InflateStatus CInflater::Run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize)
{
    if (!m_pState || !m_pState->bStarted)
        return InflateStatus::OutOfMemory;
    z_stream& zs = m_pState->stream;
    int status = Z_OK;
    // zlib counts in 32 bits: large pieces go through in parts. It is called
    // once even without input: it may hold output still.
    do {
        const uInt inPart = uInt(std::min<size_t>(inSize, 1u << 30));
        const uInt outPart = uInt(std::min<size_t>(outSize, 1u << 30));
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = inPart;
        zs.next_out = out;
        zs.avail_out = outPart;
        status = inflate(&zs, Z_NO_FLUSH);
        in += inPart - zs.avail_in;
        inSize -= inPart - zs.avail_in;
        out += outPart - zs.avail_out;
        outSize -= outPart - zs.avail_out;
    } while (status == Z_OK && inSize > 0 && outSize > 0);
    switch (status) {
    case Z_OK:
    case Z_BUF_ERROR: return InflateStatus::More;
    case Z_STREAM_END: return InflateStatus::End;
    case Z_MEM_ERROR: return InflateStatus::OutOfMemory;
    default: return InflateStatus::Damaged;  // Z_NEED_DICT, which is positive, too
    }
}

size_t CInflater::Unread() const
{
    return 0;
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    uLong value = crc;
    while (size > 0) {
        const uInt part = uInt(std::min<size_t>(size, 1u << 30));
        value = crc32(value, data, part);
        data += part;
        size -= part;
    }
    return uint32_t(value);
}
