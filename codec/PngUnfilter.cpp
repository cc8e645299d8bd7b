#include "PngUnfilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define TOBREL_X86 1
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

enum : int { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

// The predictor of the Paeth filter: whichever of left, above and above
// left is nearest to left + above - above left, in that order on ties.
inline uint8_t PaethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return uint8_t(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

void UnfilterUp(uint8_t* row, const uint8_t* prior, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        row[i] = uint8_t(row[i] + prior[i]);
}

void UnfilterPlain(int type, uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp)
{
    const size_t first = bpp < bytes ? bpp : bytes;
    switch (type) {
    case Sub:
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + row[i - bpp]);
        break;
    case Up:
        UnfilterUp(row, prior, bytes);
        break;
    case Average:
        for (size_t i = 0; i < first; ++i)
            row[i] = uint8_t(row[i] + (prior[i] >> 1));
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + ((row[i - bpp] + prior[i]) >> 1));
        break;
    case Paeth:
        for (size_t i = 0; i < first; ++i)
            row[i] = uint8_t(row[i] + prior[i]);
        for (size_t i = bpp; i < bytes; ++i)
            row[i] = uint8_t(row[i] + PaethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
        break;
    default:
        break;
    }
}

// The vector kernels go a pixel at a time, left to right: each pixel needs
// the one before it. A pixel is loaded and stored as four bytes, so with
// three-byte pixels a store spills one byte into the next pixel; that pixel
// was loaded before, and the last spill lands in the slack past the row.

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

inline void Store32(uint8_t* p, uint32_t value)
{
    std::memcpy(p, &value, 4);
}

#if TOBREL_X86

// Sub adds up the row pixel by pixel: a prefix sum. Sixteen bytes hold
// five three-byte pixels or four four-byte ones; they are summed among
// themselves by shifting (none of that waits on the pixels before), and
// only then is the last pixel before them added to each. A step stores all
// sixteen bytes: with three-byte pixels the last is the next step's, which
// was loaded before and is stored again.
template <size_t Bpp>
__attribute__((target("sse4.1"))) void SubSse41(uint8_t* row, size_t bytes)
{
    constexpr size_t c_nStep = Bpp == 3 ? 15 : 16;
    // The last pixel summed so far, in every pixel's place.
    alignas(16) static constexpr int8_t c_aLast3[16] = {12, 13, 14, 12, 13, 14, 12, 13, 14, 12, 13, 14, 12, 13, 14, -1};
    alignas(16) static constexpr int8_t c_aLast4[16] = {12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15, 12, 13, 14, 15};
    const __m128i last = _mm_load_si128(reinterpret_cast<const __m128i*>(Bpp == 3 ? c_aLast3 : c_aLast4));
    __m128i sum = _mm_setzero_si128();
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    for (size_t i = 0; i < bytes; i += c_nStep) {
        const __m128i next = i + c_nStep < bytes ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + c_nStep))
                                                 : _mm_setzero_si128();
        x = _mm_add_epi8(x, _mm_slli_si128(x, Bpp));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 2 * Bpp));
        if constexpr (Bpp == 3)
            x = _mm_add_epi8(x, _mm_slli_si128(x, 12));
        sum = _mm_add_epi8(x, _mm_shuffle_epi8(sum, last));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), sum);
        x = next;
    }
}

template <size_t Bpp>
__attribute__((target("sse4.1"))) void AverageSse41(uint8_t* row, const uint8_t* prior, size_t bytes)
{
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = _mm_setzero_si128();
    __m128i x = _mm_cvtsi32_si128(int(Load32(row)));
    for (size_t i = 0; i < bytes; i += Bpp) {
        const __m128i next = _mm_cvtsi32_si128(int(Load32(row + i + Bpp)));
        const __m128i b = _mm_cvtsi32_si128(int(Load32(prior + i)));
        // (a + b) / 2 rounded down: the rounded-up average less the lost bit.
        const __m128i average = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(x, average);
        Store32(row + i, uint32_t(_mm_cvtsi128_si32(a)));
        x = next;
    }
}

// The Paeth predictor of left, above and above left in 16-bit lanes:
// the distances pa, pb and pc of the definition, worked out beside the left
// pixel's chain.
__attribute__((target("sse4.1"))) inline __m128i PaethPredictorSse41(__m128i a, __m128i b, __m128i c)
{
    const __m128i bc = _mm_sub_epi16(b, c), pa = _mm_abs_epi16(bc);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i pb = _mm_abs_epi16(ac), pc = _mm_abs_epi16(_mm_add_epi16(bc, ac));
    const __m128i bOrC = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(pb, pc));
    return _mm_blendv_epi8(a, bOrC, _mm_cmpgt_epi16(pa, _mm_min_epi16(pb, pc)));
}

template <size_t Bpp>
__attribute__((target("sse4.1"))) void PaethSse41(uint8_t* row, const uint8_t* prior, size_t bytes)
{
    // In 16-bit lanes throughout: left, above, above left and the stored
    // byte. Only the left pixel carries from one pixel to the next, so the
    // rest is worked out beside that chain.
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    __m128i a = zero, c = zero;
    __m128i x = _mm_cvtepu8_epi16(_mm_cvtsi32_si128(int(Load32(row))));
    for (size_t i = 0; i < bytes; i += Bpp) {
        const __m128i next = _mm_cvtepu8_epi16(_mm_cvtsi32_si128(int(Load32(row + i + Bpp))));
        const __m128i b = _mm_cvtepu8_epi16(_mm_cvtsi32_si128(int(Load32(prior + i))));
        const __m128i predictor = PaethPredictorSse41(a, b, c);
        a = _mm_and_si128(_mm_add_epi16(x, predictor), low);
        Store32(row + i, uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(a, zero))));
        c = b;
        x = next;
    }
}

// A pixel's four bytes in 16-bit lanes.
__attribute__((target("sse4.1"))) inline __m128i Widen(const uint8_t* p)
{
    return _mm_cvtepu8_epi16(_mm_cvtsi32_si128(int(Load32(p))));
}

// Two rows of one filter, Average or Paeth, at once. Each goes pixel by
// pixel, and each pixel waits on the one before; but the second row needs
// of the first only the pixel above, so it goes a pixel behind, in the
// upper half of the same registers, and one chain of instructions does two
// pixels. In 16-bit lanes: the first row's pixel s below, the second's
// pixel s - 1 above. With three-byte pixels the first row's last store
// spills a byte into what follows it (the caller puts that back).
template <size_t Bpp, int Type>
__attribute__((target("sse4.1"))) void PairSse41(uint8_t* first, uint8_t* second, const uint8_t* prior, size_t bytes)
{
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    const size_t pixels = bytes / Bpp;
    // Left, above and above left of the pixels of this step, and their
    // stored bytes; the second row's "above" is the first row's pixel done
    // in the step before.
    __m128i a = zero, c = zero;
    __m128i x = Widen(first);
    for (size_t s = 0; s <= pixels; ++s) {
        // The next stored pixels, loaded before this step's stores spill
        // into them.
        const __m128i nextFirst = s + 1 < pixels ? Widen(first + (s + 1) * Bpp) : zero;
        const __m128i nextSecond = s < pixels ? Widen(second + s * Bpp) : zero;
        const __m128i b = _mm_unpacklo_epi64(s < pixels ? Widen(prior + s * Bpp) : zero, a);
        __m128i predictor;
        if constexpr (Type == Average) {
            predictor = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        } else {
            predictor = PaethPredictorSse41(a, b, c);
        }
        // In the first step the second row's lanes are all zeros: its first
        // pixel comes next with nothing on its left.
        a = _mm_and_si128(_mm_add_epi16(x, predictor), low);
        const __m128i out = _mm_packus_epi16(a, zero);
        if (s < pixels)
            Store32(first + s * Bpp, uint32_t(_mm_cvtsi128_si32(out)));
        if (s > 0)
            Store32(second + (s - 1) * Bpp, uint32_t(_mm_extract_epi32(out, 1)));
        c = b;
        x = _mm_unpacklo_epi64(nextFirst, nextSecond);
    }
}

template <size_t Bpp>
void UnfilterSse41(int type, uint8_t* row, const uint8_t* prior, size_t bytes)
{
    switch (type) {
    case Sub: SubSse41<Bpp>(row, bytes); break;
    case Up: UnfilterUp(row, prior, bytes); break;
    case Average: AverageSse41<Bpp>(row, prior, bytes); break;
    case Paeth: PaethSse41<Bpp>(row, prior, bytes); break;
    default: break;
    }
}

#elif defined(__aarch64__)

inline uint8x8_t Load8x4(const uint8_t* p)
{
    return vreinterpret_u8_u32(vdup_n_u32(Load32(p)));
}

inline void Store8x4(uint8_t* p, uint8x8_t value)
{
    Store32(p, vget_lane_u32(vreinterpret_u32_u8(value), 0));
}

template <size_t Bpp>
void UnfilterNeon(int type, uint8_t* row, const uint8_t* prior, size_t bytes)
{
    if (type == Up) {
        UnfilterUp(row, prior, bytes);
        return;
    }
    uint8x8_t a = vdup_n_u8(0), c = vdup_n_u8(0);
    uint8x8_t x = Load8x4(row);
    for (size_t i = 0; i < bytes; i += Bpp) {
        const uint8x8_t next = Load8x4(row + i + Bpp);
        const uint8x8_t b = type == Sub ? a : Load8x4(prior + i);
        uint8x8_t predictor = a;
        if (type == Average) {
            predictor = vhadd_u8(a, b);
        } else if (type == Paeth) {
            const int16x4_t a16 = vget_low_s16(vreinterpretq_s16_u16(vmovl_u8(a)));
            const int16x4_t b16 = vget_low_s16(vreinterpretq_s16_u16(vmovl_u8(b)));
            const int16x4_t c16 = vget_low_s16(vreinterpretq_s16_u16(vmovl_u8(c)));
            const int16x4_t bc = vsub_s16(b16, c16), ac = vsub_s16(a16, c16);
            const int16x4_t pa = vabs_s16(bc), pb = vabs_s16(ac), pc = vabs_s16(vadd_s16(bc, ac));
            const int16x4_t bOrC = vbsl_s16(vcgt_s16(pb, pc), c16, b16);
            const int16x4_t chosen = vbsl_s16(vcgt_s16(pa, vmin_s16(pb, pc)), bOrC, a16);
            predictor = vmovn_u16(vcombine_u16(vreinterpret_u16_s16(chosen), vreinterpret_u16_s16(chosen)));
            c = b;
        }
        a = vadd_u8(x, predictor);
        Store8x4(row + i, a);
        x = next;
    }
}

#endif

} // namespace

bool IsUnfilterKernelSupported(UnfilterKernel kernel)
{
    switch (kernel) {
    case UnfilterKernel::Plain: return true;
#if TOBREL_X86
    case UnfilterKernel::Sse41: return __builtin_cpu_supports("sse4.1");
#elif defined(__aarch64__)
    case UnfilterKernel::Neon: return true;
#endif
    default: return false;
    }
}

UnfilterKernel BestUnfilterKernel()
{
#if TOBREL_X86
    static const UnfilterKernel s_best =
        IsUnfilterKernelSupported(UnfilterKernel::Sse41) ? UnfilterKernel::Sse41 : UnfilterKernel::Plain;
    return s_best;
#elif defined(__aarch64__)
    return UnfilterKernel::Neon;
#else
    return UnfilterKernel::Plain;
#endif
}

void UnfilterPair(int type, uint8_t* row, size_t stride, const uint8_t* prior, size_t bytes, size_t bpp,
                  UnfilterKernel kernel)
{
#if TOBREL_X86
    if ((type == Average || type == Paeth) && (bpp == 3 || bpp == 4) && kernel == UnfilterKernel::Sse41 &&
        bytes > 0 && stride > bytes) {
        // What the kernel spills past either row is put back.
        uint8_t between[c_cbUnfilterSlack], after[c_cbUnfilterSlack];
        const size_t gap = std::min(stride - bytes, c_cbUnfilterSlack);
        std::memcpy(between, row + bytes, gap);
        std::memcpy(after, row + stride + bytes, sizeof after);
        using Kernel = void (*)(uint8_t*, uint8_t*, const uint8_t*, size_t);
        const Kernel pair = type == Average ? (bpp == 3 ? PairSse41<3, Average> : PairSse41<4, Average>)
                                            : (bpp == 3 ? PairSse41<3, Paeth> : PairSse41<4, Paeth>);
        pair(row, row + stride, prior, bytes);
        std::memcpy(row + bytes, between, gap);
        std::memcpy(row + stride + bytes, after, sizeof after);
        return;
    }
#endif
    Unfilter(type, row, prior, bytes, bpp, kernel);
    Unfilter(type, row + stride, row, bytes, bpp, kernel);
}

void Unfilter(int type, uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp, UnfilterKernel kernel)
{
    if (type == None || bytes == 0)
        return;
    const bool vector = bpp == 3 || bpp == 4;
    // What the kernels spill past the row is put back: rows may follow each
    // other in one buffer.
    uint8_t after[c_cbUnfilterSlack];
    std::memcpy(after, row + bytes, sizeof after);
#if TOBREL_X86
    if (vector && kernel == UnfilterKernel::Sse41)
        (bpp == 3 ? UnfilterSse41<3> : UnfilterSse41<4>)(type, row, prior, bytes);
    else
#elif defined(__aarch64__)
    if (vector && kernel == UnfilterKernel::Neon)
        (bpp == 3 ? UnfilterNeon<3> : UnfilterNeon<4>)(type, row, prior, bytes);
    else
#endif
        UnfilterPlain(type, row, prior, bytes, bpp);
    std::memcpy(row + bytes, after, sizeof after);
    (void)vector;
}
