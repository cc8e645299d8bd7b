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

struct Rgba
{
    int r, g, b, a;
};

Rgba ColourOf(const uint8_t* p, int channels)
{
    return {p[2], p[1], p[0], channels == 4 ? p[3] : 255};
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

// The red, green and blue differences of two pixels, blended when either
// is translucent. False when the pixels are the same in all four channels.
bool ChannelDeltas(const uint8_t* first, const uint8_t* second, int channels, int64_t position, double d[3])
{
    const Rgba p = ColourOf(first, channels);
    const Rgba q = ColourOf(second, channels);
    const int da = p.a - q.a;
    if (p.r == q.r && p.g == q.g && p.b == q.b && da == 0)
        return false;
    if (p.a < 255 || q.a < 255) {
        d[0] = (p.r * p.a - q.r * q.a - Background(position, 1.0) * da) / 255.0;
        d[1] = (p.g * p.a - q.g * q.a - Background(position, 1.618033988749895) * da) / 255.0;
        d[2] = (p.b * p.a - q.b * q.a - Background(position, 2.618033988749895) * da) / 255.0;
    } else {
        d[0] = p.r - q.r;
        d[1] = p.g - q.g;
        d[2] = p.b - q.b;
    }
    return true;
}

double Brightness(const double d[3])
{
    return d[0] * 0.29889531 + d[1] * 0.58662247 + d[2] * 0.11448223;
}

// Whether three or more of the pixel's neighbours have its very colour; a
// pixel on the picture's edge starts with one.
bool HasManySiblings(const ImageView& image, int32_t x, int32_t y)
{
    const int32_t x0 = std::max(x - 1, 0), x2 = std::min(x + 1, image.width - 1);
    const int32_t y0 = std::max(y - 1, 0), y2 = std::min(y + 1, image.height - 1);
    const size_t bytes = size_t(image.channels);
    const uint8_t* pixel = image.Row(y) + x * image.channels;
    int same = x == x0 || x == x2 || y == y0 || y == y2;
    for (int32_t nx = x0; nx <= x2; ++nx) {
        for (int32_t ny = y0; ny <= y2; ++ny) {
            if ((nx != x || ny != y) && std::memcmp(pixel, image.Row(ny) + nx * image.channels, bytes) == 0 &&
                ++same > 2)
                return true;
        }
    }
    return false;
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

double YiqDelta(const uint8_t* first, const uint8_t* second, int channels, int64_t position)
{
    double d[3];
    if (!ChannelDeltas(first, second, channels, position, d))
        return 0;
    const double y = Brightness(d);
    const double i = d[0] * 0.59597799 - d[1] * 0.27417610 - d[2] * 0.32180189;
    const double q = d[0] * 0.21147017 - d[1] * 0.52261711 + d[2] * 0.31114694;
    const double delta = 0.5053 * y * y + 0.299 * i * i + 0.1957 * q * q;
    return y > 0 ? -delta : delta;
}

double BrightnessDelta(const uint8_t* pixel, const uint8_t* neighbour, int channels, int64_t position)
{
    double d[3];
    return ChannelDeltas(pixel, neighbour, channels, position, d) ? Brightness(d) : 0;
}

bool IsAntialiased(const ImageView& image, const ImageView& other, int32_t x, int32_t y)
{
    const int32_t x0 = std::max(x - 1, 0), x2 = std::min(x + 1, image.width - 1);
    const int32_t y0 = std::max(y - 1, 0), y2 = std::min(y + 1, image.height - 1);
    const uint8_t* pixel = image.Row(y) + x * image.channels;
    const int64_t position = int64_t(y) * image.width + x;
    int equal = x == x0 || x == x2 || y == y0 || y == y2;
    double darkest = 0, brightest = 0;
    int32_t darkX = 0, darkY = 0, brightX = 0, brightY = 0;
    // Column by column: of neighbours equally dark (or bright) the first
    // found stands for them, as in the published detector.
    for (int32_t nx = x0; nx <= x2; ++nx) {
        for (int32_t ny = y0; ny <= y2; ++ny) {
            if (nx == x && ny == y)
                continue;
            const double delta = BrightnessDelta(pixel, image.Row(ny) + nx * image.channels, image.channels, position);
            if (delta == 0) {
                if (++equal > 2)
                    return false;
            } else if (delta < darkest) {
                darkest = delta, darkX = nx, darkY = ny;
            } else if (delta > brightest) {
                brightest = delta, brightX = nx, brightY = ny;
            }
        }
    }
    if (darkest == 0 || brightest == 0)
        return false;
    return (HasManySiblings(image, darkX, darkY) && HasManySiblings(other, darkX, darkY)) ||
           (HasManySiblings(image, brightX, brightY) && HasManySiblings(other, brightX, brightY));
}

CPixelJudge::CPixelJudge(const ImageView& first, const ImageView& second, const PixelRule& rule)
    : m_first(first), m_second(second), m_rule(rule),
      m_dMaxDelta(rule.Perceptual() ? c_dMaxYiqDelta * rule.threshold * rule.threshold : 0)
{
}

bool CPixelJudge::Differs(const uint8_t* a, const uint8_t* b, int64_t position) const
{
    if (m_rule.Perceptual())
        return std::abs(YiqDelta(a, b, m_first.channels, position)) > m_dMaxDelta;
    for (int c = 0; c < m_first.channels; ++c) {
        if (unsigned(std::abs(a[c] - b[c])) >= m_rule.tolerance)
            return true;
    }
    return false;
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
    std::vector<std::pair<int32_t, int32_t>> spans;
    if (!m_rule.ignored.empty())
        IgnoredSpans(y, spans);
    spans.emplace_back(m_first.width, m_first.width);  // the end of the row

    const int channels = m_first.channels;
    const uint8_t* rowA = m_first.Row(y);
    const uint8_t* rowB = m_second.Row(y);
    const int64_t rowStart = int64_t(y) * m_first.width;
    int32_t from = 0;
    for (const auto& [ignoredLeft, ignoredRight] : spans) {
        const size_t end = size_t(ignoredLeft) * size_t(channels);
        for (size_t pos = size_t(from) * size_t(channels);
             (pos = FirstUnequal(rowA, rowB, pos, end)) < end;) {
            const int32_t x = int32_t(pos / size_t(channels));
            pos = size_t(x + 1) * size_t(channels);
            if (!Differs(rowA + x * channels, rowB + x * channels, rowStart + x))
                continue;
            if (m_rule.bAntialiasing &&
                (IsAntialiased(m_first, m_second, x, y) || IsAntialiased(m_second, m_first, x, y)))
                antialiased.push_back(x);
            else
                counted.push_back(x);
        }
        from = ignoredRight + 1;
    }
}
