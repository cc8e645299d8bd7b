#include "PngCodec.h"

#include "PngUnfilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

// Rows are inflated into a block of about this many bytes at a time, and
// unfiltered there.
constexpr size_t c_cbBlock = 128 * 1024;

// Adam7: where each pass starts and how far apart its pixels are.
struct Pass
{
    int x0, y0, dx, dy;
};
constexpr Pass c_aPasses[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                               {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

int32_t PassSize(int32_t size, int start, int step)
{
    return size > start ? (size - start + step - 1) / step : 0;
}

// Writes one pixel as blue, green, red (or red first with `swap` off) and,
// with four channels, alpha.
template <int Channels>
inline void Put(uint8_t* out, unsigned r, unsigned g, unsigned b, unsigned a, bool swap)
{
    out[0] = uint8_t(swap ? b : r);
    out[1] = uint8_t(g);
    out[2] = uint8_t(swap ? r : b);
    if constexpr (Channels == 4)
        out[3] = uint8_t(a);
}

// Pixels of `Source` bytes (red first, alpha last) into `Target` bytes,
// red and blue swapped with `swap`, opaque where the source has no alpha:
// as many as vector instructions take; the count done. They read up to 16
// bytes past the source (the block's slack) and write nothing past the target.
#if defined(__x86_64__)
template <int Source, int Target>
__attribute__((target("ssse3"))) int32_t ShufflePixelsSsse3(const uint8_t* source, int32_t pixels, bool swap,
                                                             uint8_t* target)
{
    // Four pixels a step: where each target byte comes from (-1 for none).
    alignas(16) int8_t order[16];
    for (int p = 0; p < 4; ++p) {
        for (int k = 0; k < Target; ++k) {
            const int from = k == 3 ? 3 : swap ? 2 - k : k;
            order[p * Target + k] = int8_t(k == 3 && Source == 3 ? -1 : p * Source + from);
        }
    }
    for (int k = 4 * Target; k < 16; ++k)
        order[k] = -1;
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(order));
    const __m128i opaque = Source == 3 && Target == 4 ? _mm_set1_epi32(int(0xFF000000u)) : _mm_setzero_si128();
    int32_t x = 0;
    // A step stores 16 bytes, of which the last 4 of a three-byte target
    // are the next step's.
    for (; (x + 4) * Target + (16 - 4 * Target) <= pixels * Target; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x * Source));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + x * Target),
                         _mm_or_si128(_mm_shuffle_epi8(in, shuffle), opaque));
    }
    return x;
}

template <int Source, int Target>
int32_t ShufflePixels(const uint8_t* source, int32_t pixels, bool swap, uint8_t* target)
{
    static const bool s_bSsse3 = __builtin_cpu_supports("ssse3");
    return s_bSsse3 ? ShufflePixelsSsse3<Source, Target>(source, pixels, swap, target) : 0;
}
#elif defined(__aarch64__)
template <int Source, int Target>
int32_t ShufflePixels(const uint8_t* source, int32_t pixels, bool swap, uint8_t* target)
{
    int32_t x = 0;
    for (; x + 16 <= pixels; x += 16) {
        uint8x16_t r, g, b, a = vdupq_n_u8(255);
        if constexpr (Source == 3) {
            const uint8x16x3_t in = vld3q_u8(source + x * 3);
            r = in.val[0], g = in.val[1], b = in.val[2];
        } else {
            const uint8x16x4_t in = vld4q_u8(source + x * 4);
            r = in.val[0], g = in.val[1], b = in.val[2], a = in.val[3];
        }
        if (swap)
            std::swap(r, b);
        if constexpr (Target == 3)
            vst3q_u8(target + x * 3, uint8x16x3_t{{r, g, b}});
        else
            vst4q_u8(target + x * 4, uint8x16x4_t{{r, g, b, a}});
    }
    return x;
}
#else
template <int Source, int Target>
int32_t ShufflePixels(const uint8_t*, int32_t, bool, uint8_t*)
{
    return 0;
}
#endif

// Unfiltered rows into the wanted channels and order.
class CConverter
{
public:
    CConverter(const PngFile& png, int channels, bool fileOrder)
        : m_png(png), m_nChannels(channels), m_bSwap(!fileOrder)
    {
    }

    // `pixels` pixels of `row` into `out`. False for a palette index past
    // the palette.
    bool Convert(const uint8_t* row, int32_t pixels, uint8_t* out) const
    {
        return m_nChannels == 4 ? Convert<4>(row, pixels, out) : Convert<3>(row, pixels, out);
    }

private:
    template <int Channels>
    bool Convert(const uint8_t* row, int32_t pixels, uint8_t* out) const
    {
        const PngFile& png = m_png;
        const bool swap = m_bSwap;
        const int depth = png.depth;
        switch (png.colourType) {
        case 2:
            if (png.bColourKey) {
                const uint16_t* key = png.colourKey;
                for (int32_t x = 0; x < pixels; ++x, row += 3, out += Channels) {
                    const bool clear = row[0] == key[0] && row[1] == key[1] && row[2] == key[2];
                    Put<Channels>(out, row[0], row[1], row[2], clear ? 0 : 255, swap);
                }
            } else if (Channels == 3 && !swap) {
                std::memcpy(out, row, size_t(pixels) * 3);
            } else {
                const int32_t done = ShufflePixels<3, Channels>(row, pixels, swap, out);
                row += done * 3, out += done * Channels;
                for (int32_t x = done; x < pixels; ++x, row += 3, out += Channels)
                    Put<Channels>(out, row[0], row[1], row[2], 255, swap);
            }
            return true;
        case 6: {
            if (Channels == 4 && !swap) {
                std::memcpy(out, row, size_t(pixels) * 4);
                return true;
            }
            const int32_t done = ShufflePixels<4, Channels>(row, pixels, swap, out);
            row += done * 4, out += done * Channels;
            for (int32_t x = done; x < pixels; ++x, row += 4, out += Channels)
                Put<Channels>(out, row[0], row[1], row[2], row[3], swap);
            return true;
        }
        case 4:
            for (int32_t x = 0; x < pixels; ++x, row += 2, out += Channels)
                Put<Channels>(out, row[0], row[0], row[0], row[1], swap);
            return true;
        case 0: {
            // Samples of fewer bits stretched to eight: 1 to 255, 3 of 2
            // bits to 255, and so on.
            const unsigned scale = 255 / ((1u << depth) - 1);
            for (int32_t x = 0; x < pixels; ++x, out += Channels) {
                const unsigned sample = PackedSample(row, x, depth);
                const unsigned grey = sample * scale;
                Put<Channels>(out, grey, grey, grey, png.bColourKey && sample == png.colourKey[0] ? 0 : 255, swap);
            }
            return true;
        }
        case 3:
            if (!PaletteIndicesValid(row, pixels, depth, png.paletteEntries))
                return false;
            for (int32_t x = 0; x < pixels; ++x, out += Channels) {
                const uint8_t* colour = png.palette[PackedSample(row, x, depth)];
                Put<Channels>(out, colour[0], colour[1], colour[2], colour[3], swap);
            }
            return true;
        default:
            return false;
        }
    }

    const PngFile& m_png;
    int m_nChannels;
    bool m_bSwap;
};

} // namespace

uint64_t PngDecodeMemory(const PngFile& png, int channels)
{
    const uint64_t pixels = uint64_t(png.width) * uint64_t(png.height);
    // An interlaced picture is decoded whole; any other a block at a time.
    const uint64_t decoding = png.bInterlaced ? 0 : uint64_t(c_cbBlock) + 2 * png.RowBytes(png.width);
    return uint64_t(channels) * pixels + decoding + (1 << 20);
}

// The stream, a block of its rows as inflated and unfiltered, and the row
// above the block.
struct CPngRowDecoder::State
{
    State(const PngFile& png, int channels, bool fileOrder) : stream(png), converter(png, channels, fileOrder) {}

    // Rows of `rowBytes` stored bytes from the stream, unfiltered in place
    // against the row above and handed to `take` (the row, the row number).
    // False when trouble stops them.
    template <typename Take>
    bool Unfiltered(int32_t count, size_t rowBytes, Take&& take)
    {
        const size_t stride = rowBytes + 1;  // each row after its filter type
        while (count > 0 && trouble == Trouble::None) {
            const int32_t rows = int32_t(std::clamp<size_t>(c_cbBlock / stride, 1, size_t(count)));
            const size_t bytes = size_t(rows) * stride;
            if (blockSize < bytes + c_cbUnfilterSlack) {
                // Left as allocated: the stream fills what is read.
                blockSize = bytes + c_cbUnfilterSlack;
                block.reset(new (std::nothrow) uint8_t[blockSize]);
                if (!block) {
                    trouble = Trouble::OutOfMemory;
                    return false;
                }
                std::memset(block.get() + bytes, 0, c_cbUnfilterSlack);
            }
            if ((trouble = stream.Read(block.get(), bytes)) != Trouble::None)
                return false;
            for (int32_t k = 0; k < rows; ++k) {
                uint8_t* row = block.get() + size_t(k) * stride;
                const uint8_t* prior = k > 0 ? row - stride : above.data();
                if (row[0] > 4) {
                    trouble = Trouble::PngDamaged;
                    return false;
                }
                // Two rows of Average or Paeth in a row go together.
                const bool pair = k + 1 < rows && row[stride] == row[0] && row[0] >= 3;
                if (pair)
                    UnfilterPair(row[0], row + 1, stride, prior + 1, rowBytes, bpp);
                else
                    Unfilter(row[0], row + 1, prior + 1, rowBytes, bpp);
                if (!take(row + 1) || (pair && !take(row + 1 + stride))) {
                    trouble = Trouble::PngDamaged;
                    return false;
                }
                k += pair;
            }
            std::memcpy(above.data() + 1, block.get() + size_t(rows - 1) * stride + 1, rowBytes);
            count -= rows;
        }
        return trouble == Trouble::None;
    }

    // Starts a run of rows of `rowBytes` with zeros above.
    bool StartRows(size_t rowBytes)
    {
        if (above.size() < rowBytes + 1 + c_cbUnfilterSlack && !Grow(above, rowBytes + 1 + c_cbUnfilterSlack))
            return false;
        std::fill(above.begin(), above.end(), uint8_t(0));
        return true;
    }

    bool Grow(std::vector<uint8_t>& buffer, size_t bytes)
    {
        try {
            buffer.resize(bytes);
            return true;
        } catch (const std::bad_alloc&) {
            trouble = Trouble::OutOfMemory;
            return false;
        }
    }

    CImageDataStream stream;
    CConverter converter;
    size_t bpp = 1;
    std::unique_ptr<uint8_t[]> block;
    size_t blockSize = 0;
    std::vector<uint8_t> above;
    Trouble trouble = Trouble::None;
};

bool CPngRowDecoder::Streams(const PngFile& png)
{
    return !png.bInterlaced;
}

CPngRowDecoder::CPngRowDecoder(const PngFile& png, int channels, bool fileOrder)
    : m_png(png), m_nChannels(channels)
{
    try {
        m_pState = std::make_unique<State>(png, channels, fileOrder);
    } catch (const std::bad_alloc&) {
        return;
    }
    State& state = *m_pState;
    state.bpp = png.FilterBytes();
    if (Streams(png))
        state.StartRows(png.RowBytes(png.width));
}

CPngRowDecoder::~CPngRowDecoder() = default;

Trouble CPngRowDecoder::Rows(int32_t count, uint8_t* out)
{
    if (!m_pState)
        return Trouble::OutOfMemory;
    State& state = *m_pState;
    const int32_t width = m_png.width;
    const size_t stride = size_t(width) * size_t(m_nChannels);
    state.Unfiltered(count, m_png.RowBytes(width), [&](const uint8_t* row) {
        const bool converted = state.converter.Convert(row, width, out);
        out += stride;
        return converted;
    });
    return state.trouble;
}

Trouble CPngRowDecoder::Finish()
{
    if (!m_pState)
        return Trouble::OutOfMemory;
    State& state = *m_pState;
    return state.trouble != Trouble::None ? state.trouble : (state.trouble = state.stream.Finish());
}

Trouble CPngRowDecoder::Check(bool checksums)
{
    if (!m_pState)
        return Trouble::OutOfMemory;
    // An interlaced picture decodes only whole.
    if (m_png.bInterlaced) {
        CImage image;
        return image.Allocate(m_png.width, m_png.height, m_nChannels) ? Interlaced(image) : Trouble::OutOfMemory;
    }
    if (m_png.colourType != 3)
        return CheckPngRows(m_png, checksums);
    // Palette indices past the palette are found by converting the rows.
    std::vector<uint8_t> row(size_t(m_png.width) * size_t(m_nChannels));
    for (int32_t y = 0; y < m_png.height; ++y) {
        if (const Trouble trouble = Rows(1, row.data()); trouble != Trouble::None)
            return trouble;
    }
    return Finish();
}

Trouble CPngRowDecoder::Interlaced(CImage& image)
{
    if (!m_pState)
        return Trouble::OutOfMemory;
    State& state = *m_pState;
    const int channels = m_nChannels;
    std::vector<uint8_t> converted;
    for (const Pass& pass : c_aPasses) {
        const int32_t width = PassSize(m_png.width, pass.x0, pass.dx);
        const int32_t height = PassSize(m_png.height, pass.y0, pass.dy);
        if (width == 0 || height == 0)
            continue;
        if (!state.StartRows(m_png.RowBytes(width)) || !state.Grow(converted, size_t(width) * size_t(channels)))
            return state.trouble;
        int32_t y = pass.y0;
        // Each row of the pass, converted, goes to its pixels' places.
        state.Unfiltered(height, m_png.RowBytes(width), [&](const uint8_t* row) {
            if (!state.converter.Convert(row, width, converted.data()))
                return false;
            uint8_t* target = image.Row(y) + size_t(pass.x0) * size_t(channels);
            const size_t step = size_t(pass.dx) * size_t(channels);
            for (int32_t x = 0; x < width; ++x, target += step)
                std::memcpy(target, converted.data() + size_t(x) * size_t(channels), size_t(channels));
            y += pass.dy;
            return true;
        });
        if (state.trouble != Trouble::None)
            return state.trouble;
    }
    return Finish();
}

Trouble DecodePng(const PngFile& png, int channels, CImage& image)
{
    CPngRowDecoder decoder(png, channels);
    if (!image.Allocate(png.width, png.height, channels))
        return Trouble::OutOfMemory;
    if (!CPngRowDecoder::Streams(png))
        return decoder.Interlaced(image);
    if (const Trouble trouble = decoder.Rows(png.height, image.Row(0)); trouble != Trouble::None)
        return trouble;
    return decoder.Finish();
}
