#include "DiffScan.h"

#include "BmpFormat.h"
#include "ResultCodes.h"

#if defined(__x86_64__) || defined(__i386__)
#define TOBREL_X86 1
#include <immintrin.h>
#endif

namespace {

constexpr int32_t c_cbBand = 1024 * 1024;

// Where the kernels put what they find: every differing pixel into a list,
// or only into a count and a bounding rectangle. Add returns false when the
// sink cannot take more (the list's memory ran out).
class CListSink
{
public:
    explicit CListSink(DiffList& list) : m_list(list) {}
    bool Add(int x, uint16_t y) { return m_list.Append({uint16_t(x), y}); }
    // Bit i of `mask` stands for pixel firstPixel + i.
    bool AddMask(uint32_t mask, int firstPixel, uint16_t y)
    {
        for (; mask; mask &= mask - 1) {
            if (!m_list.Append({uint16_t(firstPixel + __builtin_ctz(mask)), y}))
                return false;
        }
        return true;
    }

private:
    DiffList& m_list;
};

class CSummarySink
{
public:
    explicit CSummarySink(DiffSummary& summary) : m_summary(summary) {}
    bool Add(int x, uint16_t y)
    {
        ++m_summary.count;
        Extend(x, x, y);
        return true;
    }
    bool AddMask(uint32_t mask, int firstPixel, uint16_t y)
    {
        if (mask) {
            m_summary.count += __builtin_popcount(mask);
            Extend(firstPixel + __builtin_ctz(mask), firstPixel + 31 - __builtin_clz(mask), y);
        }
        return true;
    }

private:
    void Extend(int left, int right, int y)
    {
        DiffSummary& s = m_summary;
        if (s.top < 0) {
            s.left = left, s.right = right, s.top = s.bottom = y;
            return;
        }
        s.left = left < s.left ? left : s.left;
        s.right = right > s.right ? right : s.right;
        s.top = y < s.top ? y : s.top;
        s.bottom = y > s.bottom ? y : s.bottom;
    }

    DiffSummary& m_summary;
};

// Compares one stored row of `bytes` bytes (channels * width, padding excluded).
template <typename Sink>
using RowScanner = bool (*)(const uint8_t* a, const uint8_t* b, int bytes,
                            uint8_t threshold, uint16_t y, Sink& sink);

template <int C>
inline bool PixelDiffers(const uint8_t* a, const uint8_t* b, unsigned threshold)
{
    for (int c = 0; c < C; ++c) {
        const int d = a[c] - b[c];
        if (unsigned(d < 0 ? -d : d) >= threshold)
            return true;
    }
    return false;
}

template <int C, typename Sink>
inline bool ScanPixels(const uint8_t* a, const uint8_t* b, int firstPixel, int endPixel,
                       uint8_t threshold, uint16_t y, Sink& sink)
{
    for (int x = firstPixel; x < endPixel; ++x) {
        if (PixelDiffers<C>(a + C * x, b + C * x, threshold) && !sink.Add(x, y))
            return false;
    }
    return true;
}

template <int C, typename Sink>
bool ScanRowScalar(const uint8_t* a, const uint8_t* b, int bytes, uint8_t threshold,
                   uint16_t y, Sink& sink)
{
    return ScanPixels<C>(a, b, 0, bytes / C, threshold, y, sink);
}

#if TOBREL_X86

inline uint32_t ClearBelow(uint32_t mask, int bit)
{
    if (bit <= 0)
        return mask;
    return bit >= 32 ? 0 : mask & (~0u << bit);
}

// Bit i of `mask` says that byte base + i of the row differs by the threshold
// or more. Appends each pixel with such a byte once, left to right; `next` is
// the first byte behind the last pixel appended, which keeps a pixel whose
// bytes straddle two blocks from being listed twice.
template <typename Sink>
inline bool AppendMarked(uint32_t mask, int base, int& next, uint16_t y, Sink& sink)
{
    mask = ClearBelow(mask, next - base);
    while (mask) {
        const int x = (base + __builtin_ctz(mask)) / 3;
        if (!sink.Add(x, y))
            return false;
        next = 3 * x + 3;
        mask = ClearBelow(mask, next - base);
    }
    return true;
}

// |a - b| >= t per byte, as a bit mask: the larger saturating difference is
// the absolute one, and max(d, t) == d exactly when d >= t.
inline uint32_t DiffMask16(const uint8_t* a, const uint8_t* b, __m128i t)
{
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
    return uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(d, t), d)));
}

template <typename Sink>
bool ScanRowSse2(const uint8_t* a, const uint8_t* b, int bytes, uint8_t threshold,
                 uint16_t y, Sink& sink)
{
    const __m128i t = _mm_set1_epi8(char(threshold));
    int next = 0;
    int i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const uint32_t mask = DiffMask16(a + i, b + i, t) | DiffMask16(a + i + 16, b + i + 16, t) << 16;
        if (mask && !AppendMarked(mask, i, next, y, sink))
            return false;
    }
    const int first = (i > next ? i : next) / 3;
    return ScanPixels<3>(a, b, first, bytes / 3, threshold, y, sink);
}

// Byte shuffles that gather, from each of three 16-byte registers holding 16
// packed pixels, channel c of every pixel into byte p (0x80 where register k
// holds no byte of that channel of pixel p).
struct PixelGather
{
    alignas(16) int8_t index[3][3][16];  // [register][channel][pixel]
};

constexpr PixelGather MakePixelGather()
{
    PixelGather gather{};
    for (int k = 0; k < 3; ++k) {
        for (int c = 0; c < 3; ++c) {
            for (int p = 0; p < 16; ++p) {
                const int byte = 3 * p + c - 16 * k;
                gather.index[k][c][p] = int8_t(byte >= 0 && byte < 16 ? byte : 0x80);
            }
        }
    }
    return gather;
}

constexpr PixelGather c_gather = MakePixelGather();

// Bit p set when pixel p of the 16 pixels at a and b differs by the
// threshold or more in any channel.
__attribute__((target("avx2")))
inline uint32_t PixelMask16(const uint8_t* a, const uint8_t* b, __m128i t)
{
    __m128i any = _mm_setzero_si128();
    for (int k = 0; k < 3; ++k) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
        const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(d, t), d);
        for (int c = 0; c < 3; ++c) {
            const __m128i index = _mm_load_si128(reinterpret_cast<const __m128i*>(c_gather.index[k][c]));
            any = _mm_or_si128(any, _mm_shuffle_epi8(ge, index));
        }
    }
    return uint32_t(_mm_movemask_epi8(any));
}

// Whether the `Bytes` bytes at a and b are all equal.
template <int Bytes>
__attribute__((target("avx2")))
inline bool EqualAvx2(const uint8_t* a, const uint8_t* b)
{
    __m256i any = _mm256_setzero_si256();
    for (int k = 0; k < Bytes; k += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + k));
        any = _mm256_or_si256(any, _mm256_xor_si256(va, vb));
    }
    return _mm256_testz_si256(any, any);
}

// Works in steps of 32 pixels (96 bytes), so no pixel straddles a step.
template <typename Sink>
__attribute__((target("avx2")))
bool ScanRowAvx2(const uint8_t* a, const uint8_t* b, int bytes, uint8_t threshold,
                 uint16_t y, Sink& sink)
{
    const __m128i t = _mm_set1_epi8(char(threshold));
    int i = 0;
    for (; i + 96 <= bytes; i += 96) {
        // Equal stretches, the common case, cost one test per step.
        if (threshold > 0 && EqualAvx2<96>(a + i, b + i))
            continue;
        if (!sink.AddMask(PixelMask16(a + i, b + i, t) | PixelMask16(a + i + 48, b + i + 48, t) << 16,
                          i / 3, y))
            return false;
    }
    if (i + 48 <= bytes) {
        if (!sink.AddMask(PixelMask16(a + i, b + i, t), i / 3, y))
            return false;
        i += 48;
    }
    return ScanPixels<3>(a, b, i / 3, bytes / 3, threshold, y, sink);
}

// Four bytes a pixel: a pixel is one 32-bit lane, so "any byte of the lane
// reached the threshold" is a lane compare and a float sign mask.
inline uint32_t LaneMask4(const uint8_t* a, const uint8_t* b, __m128i t)
{
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
    const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(d, t), d);
    const __m128i none = _mm_cmpeq_epi32(ge, _mm_setzero_si128());
    return ~uint32_t(_mm_movemask_ps(_mm_castsi128_ps(none))) & 0xF;
}

inline bool Equal64(const uint8_t* a, const uint8_t* b)
{
    __m128i any = _mm_setzero_si128();
    for (int k = 0; k < 64; k += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        any = _mm_or_si128(any, _mm_xor_si128(va, vb));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
}

// Steps of 16 pixels (64 bytes).
template <typename Sink>
bool ScanRowSse2x4(const uint8_t* a, const uint8_t* b, int bytes, uint8_t threshold,
                   uint16_t y, Sink& sink)
{
    const __m128i t = _mm_set1_epi8(char(threshold));
    int i = 0;
    for (; i + 64 <= bytes; i += 64) {
        if (threshold > 0 && Equal64(a + i, b + i))
            continue;
        const uint32_t mask = LaneMask4(a + i, b + i, t) | LaneMask4(a + i + 16, b + i + 16, t) << 4 |
                              LaneMask4(a + i + 32, b + i + 32, t) << 8 | LaneMask4(a + i + 48, b + i + 48, t) << 12;
        if (!sink.AddMask(mask, i / 4, y))
            return false;
    }
    return ScanPixels<4>(a, b, i / 4, bytes / 4, threshold, y, sink);
}

__attribute__((target("avx2")))
inline uint32_t LaneMask8(const uint8_t* a, const uint8_t* b, __m256i t)
{
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i d = _mm256_or_si256(_mm256_subs_epu8(va, vb), _mm256_subs_epu8(vb, va));
    const __m256i ge = _mm256_cmpeq_epi8(_mm256_max_epu8(d, t), d);
    const __m256i none = _mm256_cmpeq_epi32(ge, _mm256_setzero_si256());
    return ~uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(none))) & 0xFF;
}

// Steps of 32 pixels (128 bytes).
template <typename Sink>
__attribute__((target("avx2")))
bool ScanRowAvx2x4(const uint8_t* a, const uint8_t* b, int bytes, uint8_t threshold,
                   uint16_t y, Sink& sink)
{
    const __m256i t = _mm256_set1_epi8(char(threshold));
    int i = 0;
    for (; i + 128 <= bytes; i += 128) {
        if (threshold > 0 && EqualAvx2<128>(a + i, b + i))
            continue;
        const uint32_t mask = LaneMask8(a + i, b + i, t) | LaneMask8(a + i + 32, b + i + 32, t) << 8 |
                              LaneMask8(a + i + 64, b + i + 64, t) << 16 | LaneMask8(a + i + 96, b + i + 96, t) << 24;
        if (!sink.AddMask(mask, i / 4, y))
            return false;
    }
    return ScanPixels<4>(a, b, i / 4, bytes / 4, threshold, y, sink);
}

#endif // TOBREL_X86

template <typename Sink>
RowScanner<Sink> RowScannerFor(ScanKernel kernel, int channels)
{
    const bool four = channels == 4;
    switch (kernel) {
#if TOBREL_X86
    case ScanKernel::Sse2: return four ? ScanRowSse2x4<Sink> : ScanRowSse2<Sink>;
    case ScanKernel::Avx2: return four ? ScanRowAvx2x4<Sink> : ScanRowAvx2<Sink>;
#endif
    default: return four ? ScanRowScalar<4, Sink> : ScanRowScalar<3, Sink>;
    }
}

ScanKernel BestKernel()
{
#if TOBREL_X86
    static const ScanKernel s_kernel =
        __builtin_cpu_supports("avx2") ? ScanKernel::Avx2 : ScanKernel::Sse2;
    return s_kernel;
#else
    return ScanKernel::Scalar;
#endif
}

} // namespace

bool IsScanKernelSupported(ScanKernel kernel)
{
    switch (kernel) {
    case ScanKernel::Scalar: return true;
#if TOBREL_X86
    case ScanKernel::Sse2: return true;
    case ScanKernel::Avx2: return __builtin_cpu_supports("avx2");
#endif
    default: return false;
    }
}

ScanKernel BestScanKernel()
{
    return BestKernel();
}

namespace {

int CheckGeometry(const ImageView& first, const ImageView& second)
{
    if (!first.SameGeometry(second) || (first.channels != 3 && first.channels != 4))
        return IDS_SIZE_MISMATCH;
    if (first.width > c_nMaxDimension || first.height > c_nMaxDimension)
        return IDS_IMAGE_TOO_LARGE;
    return 0;
}

// Stored rows of another length (padding included) hold images of other widths.
int CheckStride(const ImageBuffer& first, const ImageBuffer& second)
{
    return first.stride == second.stride ? 0 : IDS_SIZE_MISMATCH;
}

ScanKernel Usable(ScanKernel kernel)
{
    return IsScanKernelSupported(kernel) ? kernel : ScanKernel::Scalar;
}

} // namespace

int ScanDifferences(const ImageView& first, const ImageView& second, unsigned tolerance, DiffList& list,
                    ScanKernel kernel)
{
    list.Clear();
    if (const int result = CheckGeometry(first, second))
        return -result;
    const int32_t width = first.width;
    const int32_t height = first.height;
    if (width <= 0 || height <= 0 || tolerance > 255)
        return 0;

    // A bitmap stores the picture's top row last, so picture order runs
    // backwards through memory, which hardware prefetchers follow poorly.
    // Rows are read in memory order within bands of about c_cbBand bytes (a
    // megabyte), bands from the top of the picture down, and each band's
    // records are put back into picture order while they are still in cache.
    const auto scanRow = RowScannerFor<CListSink>(Usable(kernel), first.channels);
    CListSink sink(list);
    const ptrdiff_t rowBytes = first.step < 0 ? -first.step : first.step;
    const int32_t bandRows = rowBytes < c_cbBand && rowBytes > 0 ? int32_t(c_cbBand / rowBytes) : 1;
    const int bytes = first.channels * width;
    const bool upwards = first.step < 0;
    for (int32_t top = 0; top < height; top += bandRows) {
        const int32_t bottom = height - top > bandRows ? top + bandRows : height;
        const int bandStart = list.Size();
        for (int32_t k = top; k < bottom; ++k) {
            const int32_t y = upwards ? bottom - 1 - (k - top) : k;
            if (!scanRow(first.Row(y), second.Row(y), bytes, uint8_t(tolerance), uint16_t(y), sink)) {
                list.Release();
                return -IDS_OUT_OF_MEMORY;
            }
        }
        if (upwards)
            list.ReverseRowOrder(bandStart);
    }
    return list.Size();
}

int SummarizeDifferences(const ImageView& first, const ImageView& second, unsigned tolerance, int32_t topRow,
                         DiffSummary& summary, ScanKernel kernel)
{
    summary = DiffSummary();
    if (const int result = CheckGeometry(first, second))
        return -result;
    if (first.width <= 0 || first.height <= 0 || tolerance > 255)
        return 0;
    if (int64_t(topRow) + first.height > c_nMaxDimension + int64_t(1))
        return -IDS_IMAGE_TOO_LARGE;

    // The order of the findings does not matter here: rows go in memory order.
    const auto scanRow = RowScannerFor<CSummarySink>(Usable(kernel), first.channels);
    CSummarySink sink(summary);
    const int bytes = first.channels * first.width;
    for (int32_t k = 0; k < first.height; ++k) {
        const int32_t y = first.step < 0 ? first.height - 1 - k : k;
        scanRow(first.Row(y), second.Row(y), bytes, uint8_t(tolerance), uint16_t(topRow + y), sink);
    }
    return 0;
}

int ScanDifferences(const ImageBuffer& first, const ImageBuffer& second,
                    unsigned tolerance, DiffList& list)
{
    return ScanDifferences(first, second, tolerance, list, BestKernel());
}

int ScanDifferences(const ImageBuffer& first, const ImageBuffer& second,
                    unsigned tolerance, DiffList& list, ScanKernel kernel)
{
    if (const int result = CheckStride(first, second)) {
        list.Clear();
        return -result;
    }
    return ScanDifferences(ViewOf(first), ViewOf(second), tolerance, list, kernel);
}

int SummarizeDifferences(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                         int32_t firstRow, int32_t endRow, DiffSummary& summary, ScanKernel kernel)
{
    summary = DiffSummary();
    if (const int result = CheckStride(first, second))
        return -result;
    const ImageView a = ViewOf(first), b = ViewOf(second);
    if (const int result = CheckGeometry(a, b))
        return -result;
    firstRow = firstRow < 0 ? 0 : firstRow;
    endRow = endRow > first.height ? first.height : endRow;
    if (first.width <= 0 || first.height <= 0 || firstRow >= endRow)
        return 0;
    return SummarizeDifferences(a.Rows(firstRow, endRow), b.Rows(firstRow, endRow), tolerance, firstRow, summary,
                                kernel);
}

int SummarizeDifferences(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                         int32_t firstRow, int32_t endRow, DiffSummary& summary)
{
    return SummarizeDifferences(first, second, tolerance, firstRow, endRow, summary, BestKernel());
}

void DiffSummary::Merge(const DiffSummary& other)
{
    if (other.count == 0)
        return;
    if (count == 0) {
        *this = other;
        return;
    }
    count += other.count;
    left = other.left < left ? other.left : left;
    top = other.top < top ? other.top : top;
    right = other.right > right ? other.right : right;
    bottom = other.bottom > bottom ? other.bottom : bottom;
}
