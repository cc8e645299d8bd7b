#include "Scan4.h"

#include "ResultCodes.h"

#include <emmintrin.h>

namespace {

// Bit 4k of the mask stands for pixel k of the 4 at a and b: set when any of
// its 4 bytes differs by the threshold or more.
inline uint32_t PixelMask4(const uint8_t* a, const uint8_t* b, __m128i t)
{
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
    const uint32_t bytes = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(d, t), d)));
    return (bytes | bytes >> 1 | bytes >> 2 | bytes >> 3) & 0x1111;
}

inline bool PixelDiffers(const uint8_t* a, const uint8_t* b, unsigned threshold)
{
    for (int c = 0; c < 4; ++c) {
        const int d = a[c] - b[c];
        if (unsigned(d < 0 ? -d : d) >= threshold)
            return true;
    }
    return false;
}

// Calls found(x) for each differing pixel of one row, left to right; stops
// when it returns false.
template <typename Found>
bool ScanRow(const uint8_t* a, const uint8_t* b, int32_t width, unsigned threshold, Found&& found)
{
    const __m128i t = _mm_set1_epi8(char(threshold));
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        for (uint32_t mask = PixelMask4(a + 4 * x, b + 4 * x, t); mask; mask &= mask - 1) {
            if (!found(x + __builtin_ctz(mask) / 4))
                return false;
        }
    }
    for (; x < width; ++x) {
        if (PixelDiffers(a + 4 * x, b + 4 * x, threshold) && !found(x))
            return false;
    }
    return true;
}

const uint8_t* Row(const ImageBuffer& image, int32_t y)
{
    return image.pixels + int64_t(image.height - 1 - y) * image.stride;
}

} // namespace

int ScanDifferences4(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance, DiffList& list)
{
    list.Clear();
    for (int32_t y = 0; y < first.height; ++y) {
        const bool stored = ScanRow(Row(first, y), Row(second, y), first.width, tolerance, [&](int32_t x) {
            return list.Append({uint16_t(x), uint16_t(y)});
        });
        if (!stored) {
            list.Release();
            return -IDS_OUT_OF_MEMORY;
        }
    }
    return list.Size();
}

void SummarizeDifferences4(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                           int32_t firstRow, int32_t endRow, DiffSummary& summary)
{
    summary = DiffSummary();
    for (int32_t y = firstRow; y < endRow; ++y) {
        DiffSummary row;
        ScanRow(Row(first, y), Row(second, y), first.width, tolerance, [&](int32_t x) {
            row.right = x;
            if (row.count++ == 0)
                row.left = x;
            return true;
        });
        if (row.count) {
            row.top = row.bottom = y;
            summary.Merge(row);
        }
    }
}
