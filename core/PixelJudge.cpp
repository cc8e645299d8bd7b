#include "PixelJudge.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define TOBREL_X86 1
#include <immintrin.h>
#endif

// The arithmetic below is that of the published rule, operation for
// operation in double precision, so that borderline pixels fall on the same
// side as in other tools; the build keeps the compiler from fusing a
// multiply and an add here.

namespace {

// A pixel as one number: blue, green, red and alpha from the lowest byte up,
// alpha 255 for three channels. Equal numbers are equal pixels.
template <int C>
inline uint32_t Packed(const uint8_t* p)
{
    if constexpr (C == 4) {
        uint32_t value;
        std::memcpy(&value, p, 4);
        return value;
    } else {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | 0xFF000000u;
    }
}

inline int Channel(uint32_t pixel, int shift)
{
    return int(pixel >> shift & 255);
}

// The background a translucent pixel is blended over: one of two levels per
// channel, striped across the picture at periods that do not line up, so
// that no colour hides in it. `period` 1 gives the level of red.
int Background(int64_t position, double period)
{
    // The stripe index wraps at 32 bits the way the reference implementation's
    // integer conversion does; it matters only past half a billion pixels.
    const double index = std::trunc(double(position) * 4 / period);
    const int32_t wrapped = int32_t(uint32_t(uint64_t(int64_t(index))));
    return 48 + 159 * (wrapped % 2);
}

// The red, green and blue differences of two different pixels, blended
// over the background when either is translucent.
template <int C>
inline void ChannelDeltas(uint32_t p, uint32_t q, int64_t position, double d[3])
{
    const int pa = Channel(p, 24), qa = Channel(q, 24);
    if (C == 4 && (pa < 255 || qa < 255)) {
        const int da = pa - qa;
        d[0] = (Channel(p, 16) * pa - Channel(q, 16) * qa - Background(position, 1.0) * da) / 255.0;
        d[1] = (Channel(p, 8) * pa - Channel(q, 8) * qa - Background(position, 1.618033988749895) * da) / 255.0;
        d[2] = (Channel(p, 0) * pa - Channel(q, 0) * qa - Background(position, 2.618033988749895) * da) / 255.0;
        return;
    }
    d[0] = Channel(p, 16) - Channel(q, 16);
    d[1] = Channel(p, 8) - Channel(q, 8);
    d[2] = Channel(p, 0) - Channel(q, 0);
}

inline double Brightness(const double d[3])
{
    return d[0] * 0.29889531 + d[1] * 0.58662247 + d[2] * 0.11448223;
}

// The squared YIQ distance of two pixels, negative when the second is the
// brighter; `position` is the first pixel's index in its picture.
template <int C>
double YiqDelta(uint32_t p, uint32_t q, int64_t position)
{
    if (p == q)
        return 0;
    double d[3];
    ChannelDeltas<C>(p, q, position, d);
    const double y = Brightness(d);
    const double i = d[0] * 0.59597799 - d[1] * 0.27417610 - d[2] * 0.32180189;
    const double q2 = d[0] * 0.21147017 - d[1] * 0.52261711 + d[2] * 0.31114694;
    const double delta = 0.5053 * y * y + 0.299 * i * i + 0.1957 * q2 * q2;
    return y > 0 ? -delta : delta;
}

// The brightness difference of a pixel and a neighbour in one picture:
// positive when the pixel is the brighter, 0 when they are the same.
template <int C>
inline double BrightnessDelta(uint32_t pixel, uint32_t neighbour, int64_t position)
{
    double d[3];
    ChannelDeltas<C>(pixel, neighbour, position, d);
    return Brightness(d);
}

// The neighbours of (x, y) inside the picture, column by column from the
// left, each column from the top; how many there are, and 1 when the pixel
// lies on the picture's edge (which counts as one neighbour of its colour).
// Inside the picture they are the same eight every time, and a loop over
// them unrolls.
constexpr int32_t c_dx[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int32_t c_dy[8] = {-1, 0, 1, -1, 1, -1, 0, 1};

struct Neighbours
{
    int32_t x[8];
    int32_t y[8];
    int count = 0;
    int edge = 0;

    Neighbours() = default;
    Neighbours(const ImageView& image, int32_t cx, int32_t cy)
    {
        const int32_t x0 = std::max(cx - 1, 0), x2 = std::min(cx + 1, image.width - 1);
        const int32_t y0 = std::max(cy - 1, 0), y2 = std::min(cy + 1, image.height - 1);
        edge = cx == x0 || cx == x2 || cy == y0 || cy == y2;
        for (int32_t nx = x0; nx <= x2; ++nx) {
            for (int32_t ny = y0; ny <= y2; ++ny) {
                if (nx != cx || ny != cy)
                    x[count] = nx, y[count] = ny, ++count;
            }
        }
    }
};

inline bool Inside(const ImageView& image, int32_t x, int32_t y)
{
    return x > 0 && y > 0 && x < image.width - 1 && y < image.height - 1;
}

// Whether three or more of the pixel's neighbours have its very colour.
template <int C>
bool HasManySiblings(const ImageView& image, int32_t x, int32_t y)
{
    const uint32_t pixel = Packed<C>(image.Row(y) + x * C);
    int same = 0;
    if (Inside(image, x, y)) {
        const uint8_t* rows[3] = {image.Row(y - 1), image.Row(y), image.Row(y + 1)};
        for (int k = 0; k < 8; ++k)
            same += Packed<C>(rows[c_dy[k] + 1] + (x + c_dx[k]) * C) == pixel;
        return same > 2;
    }
    const Neighbours around(image, x, y);
    same = around.edge;
    for (int k = 0; k < around.count; ++k)
        same += Packed<C>(image.Row(around.y[k]) + around.x[k] * C) == pixel;
    return same > 2;
}

// The brightness differences of a pixel inside the picture and its eight
// neighbours (in the order of c_dx and c_dy), for three-channel pictures,
// four at a time with AVX2 and worked out operation for operation as
// BrightnessDelta does: how many are 0, and the first of the most negative
// and the first of the most positive (-1 where none is).
#if TOBREL_X86
// The signs of eight lanes as eight bits, the first four from `lo`.
__attribute__((target("avx2"))) inline unsigned Mask8(__m256d lo, __m256d hi)
{
    return unsigned(_mm256_movemask_pd(lo)) | unsigned(_mm256_movemask_pd(hi)) << 4;
}

__attribute__((target("avx2"))) void NeighbourBrightnessAvx2(const ImageView& image, int32_t x, int32_t y,
                                                            uint32_t pixel, int& equal, int& dark, int& bright)
{
    const uint8_t* above = image.Row(y - 1) + (x - 1) * 3;
    const uint8_t* row = image.Row(y) + (x - 1) * 3;
    const uint8_t* below = image.Row(y + 1) + (x - 1) * 3;
    const __m256i packed = _mm256_setr_epi32(int(Packed<3>(above)), int(Packed<3>(row)), int(Packed<3>(below)),
                                             int(Packed<3>(above + 3)), int(Packed<3>(below + 3)),
                                             int(Packed<3>(above + 6)), int(Packed<3>(row + 6)),
                                             int(Packed<3>(below + 6)));
    const __m256i mask = _mm256_set1_epi32(255);
    const __m256i dr = _mm256_sub_epi32(_mm256_set1_epi32(Channel(pixel, 16)), _mm256_and_si256(_mm256_srli_epi32(packed, 16), mask));
    const __m256i dg = _mm256_sub_epi32(_mm256_set1_epi32(Channel(pixel, 8)), _mm256_and_si256(_mm256_srli_epi32(packed, 8), mask));
    const __m256i db = _mm256_sub_epi32(_mm256_set1_epi32(Channel(pixel, 0)), _mm256_and_si256(packed, mask));
    const __m256d wr = _mm256_set1_pd(0.29889531), wg = _mm256_set1_pd(0.58662247), wb = _mm256_set1_pd(0.11448223);
    __m256d delta[2];
    for (int half = 0; half < 2; ++half) {
        const __m256d r = _mm256_cvtepi32_pd(half ? _mm256_extracti128_si256(dr, 1) : _mm256_castsi256_si128(dr));
        const __m256d g = _mm256_cvtepi32_pd(half ? _mm256_extracti128_si256(dg, 1) : _mm256_castsi256_si128(dg));
        const __m256d b = _mm256_cvtepi32_pd(half ? _mm256_extracti128_si256(db, 1) : _mm256_castsi256_si128(db));
        delta[half] = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r, wr), _mm256_mul_pd(g, wg)), _mm256_mul_pd(b, wb));
    }
    const __m256d zero = _mm256_setzero_pd();
    equal = __builtin_popcount(Mask8(_mm256_cmp_pd(delta[0], zero, _CMP_EQ_OQ), _mm256_cmp_pd(delta[1], zero, _CMP_EQ_OQ)));
    // The least and the greatest of the eight, in every lane.
    __m256d low = _mm256_min_pd(delta[0], delta[1]), high = _mm256_max_pd(delta[0], delta[1]);
    low = _mm256_min_pd(low, _mm256_permute4x64_pd(low, 0x4E));
    high = _mm256_max_pd(high, _mm256_permute4x64_pd(high, 0x4E));
    low = _mm256_min_pd(low, _mm256_permute_pd(low, 0x5));
    high = _mm256_max_pd(high, _mm256_permute_pd(high, 0x5));
    // Equal differences come only from equal colours: the first of them is
    // the one the plain loop keeps.
    const unsigned darkest = Mask8(_mm256_cmp_pd(delta[0], low, _CMP_EQ_OQ), _mm256_cmp_pd(delta[1], low, _CMP_EQ_OQ));
    const unsigned brightest = Mask8(_mm256_cmp_pd(delta[0], high, _CMP_EQ_OQ), _mm256_cmp_pd(delta[1], high, _CMP_EQ_OQ));
    dark = _mm256_cvtsd_f64(low) < 0 ? __builtin_ctz(darkest) : -1;
    bright = _mm256_cvtsd_f64(high) > 0 ? __builtin_ctz(brightest) : -1;
}
#endif

// Whether pixel (x, y) of `image` looks like anti-aliasing: its neighbours
// hold both a darker and a brighter one, not more than two equal ones, and
// the darkest or the brightest lies in a flat area of both `image` and
// `other` (the detector of Vysniauskas). Of neighbours equally dark (or
// bright) the first found stands for them. Written without branches in the
// loop: in noisy pictures which neighbour is darkest cannot be foreseen.
template <int C>
bool IsAntialiased(const ImageView& image, const ImageView& other, int32_t x, int32_t y)
{
    const uint32_t pixel = Packed<C>(image.Row(y) + x * C);
    const int64_t position = int64_t(y) * image.width + x;
    Neighbours edge;
    const bool inside = Inside(image, x, y);
    if (!inside)
        edge = Neighbours(image, x, y);
    const int count = inside ? 8 : edge.count;
    const auto nx = [&](int k) { return inside ? x + c_dx[k] : edge.x[k]; };
    const auto ny = [&](int k) { return inside ? y + c_dy[k] : edge.y[k]; };

#if TOBREL_X86
    static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
    const bool vector = C == 3 && inside && s_bAvx2;
#else
    const bool vector = false;
#endif
    // How many neighbours weigh the same, and the first of the darkest and
    // of the brightest (-1 where none is darker or brighter).
    int equal = inside ? 0 : edge.edge, dark = -1, bright = -1;
    if (vector) {
#if TOBREL_X86
        NeighbourBrightnessAvx2(image, x, y, pixel, equal, dark, bright);
#endif
    } else {
        double darkest = 0, brightest = 0;
        for (int k = 0; k < count; ++k) {
            const double delta = BrightnessDelta<C>(pixel, Packed<C>(image.Row(ny(k)) + nx(k) * C), position);
            equal += delta == 0;
            const bool darker = delta < darkest, brighter = delta > brightest;
            darkest = darker ? delta : darkest;
            dark = darker ? k : dark;
            brightest = brighter ? delta : brightest;
            bright = brighter ? k : bright;
        }
    }
    if (equal > 2 || dark < 0 || bright < 0)
        return false;
    return (HasManySiblings<C>(image, nx(dark), ny(dark)) && HasManySiblings<C>(other, nx(dark), ny(dark))) ||
           (HasManySiblings<C>(image, nx(bright), ny(bright)) && HasManySiblings<C>(other, nx(bright), ny(bright)));
}

// The offset of the first byte from `pos` on where the rows differ, or `end`.
size_t FirstUnequal(const uint8_t* a, const uint8_t* b, size_t pos, size_t end)
{
#ifdef TOBREL_X86
    for (; pos + 16 <= end; pos += 16) {
        const __m128i equal = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + pos)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + pos)));
        if (const unsigned unequal = ~unsigned(_mm_movemask_epi8(equal)) & 0xFFFF)
            return pos + unsigned(__builtin_ctz(unequal));
    }
#else
    for (; pos + 8 <= end; pos += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + pos, 8);
        std::memcpy(&y, b + pos, 8);
        if (x != y)
            return pos + unsigned(__builtin_ctzll(x ^ y)) / 8;  // little-endian
    }
#endif
    while (pos < end && a[pos] == b[pos])
        ++pos;
    return pos;
}

} // namespace

CPixelJudge::CPixelJudge(const ImageView& first, const ImageView& second, const PixelRule& rule)
    : m_first(first), m_second(second), m_rule(rule),
      m_dMaxDelta(rule.Perceptual() ? c_dMaxYiqDelta * rule.threshold * rule.threshold : 0)
{
}

void CPixelJudge::IgnoredSpans(int32_t y, std::vector<std::pair<int32_t, int32_t>>& spans) const
{
    spans.clear();
    for (const PixelRect& r : m_rule.ignored) {
        const int32_t left = std::max(r.left, 0), right = std::min(r.right, m_first.width - 1);
        if (r.top <= y && y <= r.bottom && left <= right)
            spans.emplace_back(left, right);
    }
    std::sort(spans.begin(), spans.end());
    size_t kept = 0;
    for (const auto& span : spans) {
        if (kept > 0 && span.first <= spans[kept - 1].second + 1)
            spans[kept - 1].second = std::max(spans[kept - 1].second, span.second);
        else
            spans[kept++] = span;
    }
    spans.resize(kept);
}

int64_t CPixelJudge::ComparedPixels() const
{
    int64_t compared = int64_t(m_first.width) * m_first.height;
    if (m_rule.ignored.empty())
        return compared;
    std::vector<std::pair<int32_t, int32_t>> spans;
    for (int32_t y = 0; y < m_first.height; ++y) {
        IgnoredSpans(y, spans);
        for (const auto& [left, right] : spans)
            compared -= right - left + 1;
    }
    return compared;
}

void CPixelJudge::JudgeRow(int32_t y, std::vector<int32_t>& counted, std::vector<int32_t>& antialiased) const
{
    if (m_first.channels == 4)
        JudgeRowOf<4>(y, counted, antialiased);
    else
        JudgeRowOf<3>(y, counted, antialiased);
}

template <int C>
void CPixelJudge::JudgeRowOf(int32_t y, std::vector<int32_t>& counted, std::vector<int32_t>& antialiased) const
{
    std::vector<std::pair<int32_t, int32_t>> spans;
    if (!m_rule.ignored.empty())
        IgnoredSpans(y, spans);
    spans.emplace_back(m_first.width, m_first.width);  // the end of the row

    const uint8_t* rowA = m_first.Row(y);
    const uint8_t* rowB = m_second.Row(y);
    const int64_t rowStart = int64_t(y) * m_first.width;
    int32_t from = 0;
    for (const auto& [ignoredLeft, ignoredRight] : spans) {
        const size_t end = size_t(ignoredLeft) * C;
        for (size_t pos = size_t(from) * C; (pos = FirstUnequal(rowA, rowB, pos, end)) < end;) {
            const int32_t x = int32_t(pos / C);
            pos = size_t(x + 1) * C;
            const uint8_t* a = rowA + x * C;
            const uint8_t* b = rowB + x * C;
            bool differs = false;
            if (m_rule.Perceptual()) {
                differs = std::abs(YiqDelta<C>(Packed<C>(a), Packed<C>(b), rowStart + x)) > m_dMaxDelta;
            } else {
                for (int c = 0; c < C; ++c)
                    differs = differs || unsigned(std::abs(a[c] - b[c])) >= m_rule.tolerance;
            }
            if (!differs)
                continue;
            if (m_rule.bAntialiasing &&
                (IsAntialiased<C>(m_first, m_second, x, y) || IsAntialiased<C>(m_second, m_first, x, y)))
                antialiased.push_back(x);
            else
                counted.push_back(x);
        }
        from = ignoredRight + 1;
    }
}
