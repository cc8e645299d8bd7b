#pragma once

// A zlib stream inflated piece by piece, checked to its end: Intel's ISA-L
// where the build has it (Inflate_isal.cpp), zlib elsewhere
// (Inflate_zlib.cpp). Both refuse alike: a header that is not deflate with
// a window of at most 32 KiB, a preset dictionary, damaged blocks, a wrong
// Adler-32.

#include <cstddef>
#include <cstdint>
#include <memory>

enum class InflateStatus
{
    More,         // every byte of input or every byte of room was used
    End,          // the stream ended, its Adler-32 checked
    Damaged,
    OutOfMemory,
};

class CInflater
{
public:
    CInflater();
    ~CInflater();
    CInflater(const CInflater&) = delete;
    CInflater& operator=(const CInflater&) = delete;

    // Inflates from `in` (`inSize` bytes) into `out` (room for `outSize`),
    // moving both on past what it used. At End, what is left of the input
    // followed the stream.
    InflateStatus Run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize);
    // After End: input the inflater took in but did not need, still ahead of
    // `in`. Anything after a stream is damage to a PNG.
    size_t Unread() const;

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

// The CRC-32 of PNG chunks (and of gzip), continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
inline uint32_t Crc32(const uint8_t* data, size_t size)
{
    return Crc32(0, data, size);
}
