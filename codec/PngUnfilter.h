#pragma once

// Undoing PNG's row filters. A row is unfiltered in place, against the
// unfiltered row above it (zeros above the first). Pixels of three and four
// bytes, nearly every screenshot, go through vector kernels; every other
// layout through the plain one.

#include <cstddef>
#include <cstdint>

enum class UnfilterKernel
{
    Plain,
    Sse41,  // x86-64 processors with SSE4.1
    Neon,   // ARM64
};

bool IsUnfilterKernelSupported(UnfilterKernel kernel);
UnfilterKernel BestUnfilterKernel();

// The bytes a kernel may read past the end of a row and of the row above
// (it writes none that stay): the buffers holding them leave this much room.
constexpr size_t c_cbUnfilterSlack = 16;

// Unfilters `bytes` bytes of `row` by filter `type` (0 to 4; a caller
// refuses others) against `prior`, with `bpp` bytes per pixel (1 for
// pixels smaller than a byte).
void Unfilter(int type, uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp,
              UnfilterKernel kernel = BestUnfilterKernel());

// Unfilters two rows of the same filter `type`, the second `stride` bytes
// after the first (more than `bytes`: rows lie apart by their filter
// types), the first against `prior`, the second against the first. Rows of
// Average and Paeth go faster so than one after the other.
void UnfilterPair(int type, uint8_t* row, size_t stride, const uint8_t* prior, size_t bytes, size_t bpp,
                  UnfilterKernel kernel = BestUnfilterKernel());
