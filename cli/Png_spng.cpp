#include "PngCodec.h"

#include "Platform.h"

#include <spng.h>

#include <memory>
#include <vector>

namespace {

struct CtxDeleter
{
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

// The checksums were checked chunk by chunk and the whole image data stream
// is checked apart, so the decoder need not check them again.
Ctx OpenDecoder(const PngFile& png)
{
    Ctx ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx || spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE) ||
        spng_set_image_limits(ctx.get(), 0x7FFFFFFF, 0x7FFFFFFF) ||
        spng_set_png_buffer(ctx.get(), png.pixelChunks.data(), png.pixelChunks.size()))
        return nullptr;
    return ctx;
}

Trouble TroubleOfSpng(int error)
{
    switch (error) {
    case SPNG_IO_EOF:
    case SPNG_EOF: return Trouble::CannotRead;
    case SPNG_EMEM: return Trouble::OutOfMemory;
    default: return Trouble::PngDamaged;
    }
}

// Palette colours as RGBA, with the palette's transparency.
class CPaletteColours
{
public:
    explicit CPaletteColours(spng_ctx* ctx)
    {
        spng_plte plte = {};
        spng_trns trns = {};
        spng_get_plte(ctx, &plte);
        const bool transparency = spng_get_trns(ctx, &trns) == 0;
        m_nEntries = plte.n_entries < 256 ? plte.n_entries : 256;
        for (uint32_t i = 0; i < m_nEntries; ++i) {
            m_colours[i][0] = plte.entries[i].red;
            m_colours[i][1] = plte.entries[i].green;
            m_colours[i][2] = plte.entries[i].blue;
            m_colours[i][3] = transparency && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
        }
    }

    unsigned Entries() const { return m_nEntries; }
    const uint8_t* operator[](unsigned index) const { return m_colours[index]; }

private:
    uint8_t m_colours[256][4] = {};
    unsigned m_nEntries = 0;
};

// One decoded row (RGBA, or packed palette indices) into the image's
// blue, green, red (, alpha) order. False for an index past the palette.
bool ConvertRow(const uint8_t* source, const PngFile& png, const CPaletteColours* palette, int channels,
                uint8_t* target)
{
    if (palette && !PaletteIndicesValid(source, png.width, png.depth, palette->Entries()))
        return false;
    const int depth = png.depth;
    for (int32_t x = 0; x < png.width; ++x, target += channels) {
        const uint8_t* rgba = source + 4 * size_t(x);
        if (palette) {
            const unsigned bit = unsigned(x) * unsigned(depth);
            rgba = (*palette)[(source[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1)];
        }
        target[0] = rgba[2];
        target[1] = rgba[1];
        target[2] = rgba[0];
        if (channels == 4)
            target[3] = rgba[3];
    }
    return true;
}

} // namespace

uint64_t PngDecodeMemory(const PngFile& png, int channels)
{
    const uint64_t pixels = uint64_t(png.width) * uint64_t(png.height);
    // An interlaced image is decoded whole before it is converted; any
    // other row by row.
    const uint64_t decoded = png.bInterlaced ? 4 * pixels : 4 * uint64_t(png.width);
    return uint64_t(channels) * pixels + decoded + (1 << 16);
}

Trouble DecodePng(const PngFile& png, int channels, CImage& image)
{
    Ctx ctx = OpenDecoder(png);
    if (!ctx)
        return Trouble::OutOfMemory;
    spng_ihdr ihdr;
    if (const int error = spng_get_ihdr(ctx.get(), &ihdr))
        return TroubleOfSpng(error);

    // A palette image comes as its indices, which are checked against the
    // palette; anything else as RGBA with its transparency applied.
    const bool indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED;
    const int fmt = indexed ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    const int flags = indexed ? 0 : SPNG_DECODE_TRNS;
    size_t bytes = 0;
    if (const int error = spng_decoded_image_size(ctx.get(), fmt, &bytes))
        return TroubleOfSpng(error);
    const size_t rowBytes = bytes / size_t(png.height);
    if (!image.Allocate(png.width, png.height, channels))
        return Trouble::OutOfMemory;
    std::unique_ptr<CPaletteColours> palette;

    if (!png.bInterlaced) {
        std::vector<uint8_t> row(rowBytes);
        int status = spng_decode_image(ctx.get(), nullptr, 0, fmt, flags | SPNG_DECODE_PROGRESSIVE);
        if (indexed)
            palette = std::make_unique<CPaletteColours>(ctx.get());
        while (status == 0) {
            spng_row_info info;
            if ((status = spng_get_row_info(ctx.get(), &info)) != 0)
                break;
            status = spng_decode_row(ctx.get(), row.data(), row.size());
            if ((status == 0 || status == SPNG_EOI) &&
                !ConvertRow(row.data(), png, palette.get(), channels, image.Row(int32_t(info.row_num))))
                return Trouble::PngDamaged;
        }
        if (status != SPNG_EOI)
            return TroubleOfSpng(status);
    } else {
        // Zeroed: for samples of fewer than 8 bits the decoder ORs each
        // pass's bits into the output.
        std::vector<uint8_t> decoded(bytes, 0);
        if (const int error = spng_decode_image(ctx.get(), decoded.data(), bytes, fmt, flags))
            return TroubleOfSpng(error);
        if (indexed)
            palette = std::make_unique<CPaletteColours>(ctx.get());
        for (int32_t y = 0; y < png.height; ++y) {
            if (!ConvertRow(decoded.data() + size_t(y) * rowBytes, png, palette.get(), channels, image.Row(y)))
                return Trouble::PngDamaged;
        }
    }
    // The chunks after the image data: their order is checked too.
    if (const int error = spng_decode_chunks(ctx.get()))
        return TroubleOfSpng(error);
    return CheckPngImageData(png);
}

bool EncodePng(COutputFile& out, int32_t width, int32_t height,
               const std::function<void(int32_t y, unsigned char* bgr)>& row)
{
    Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx)
        return false;
    const auto write = [](spng_ctx*, void* user, void* source, size_t length) {
        return static_cast<COutputFile*>(user)->Write(source, length) ? 0 : SPNG_IO_ERROR;
    };
    spng_ihdr ihdr = {};
    ihdr.width = uint32_t(width);
    ihdr.height = uint32_t(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    if (spng_set_png_stream(ctx.get(), write, &out) || spng_set_ihdr(ctx.get(), &ihdr) ||
        spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        return false;
    std::vector<unsigned char> bgr(3 * size_t(width)), rgb(3 * size_t(width));
    int status = 0;
    for (int32_t y = 0; y < height; ++y) {
        row(y, bgr.data());
        for (size_t i = 0; i < bgr.size(); i += 3) {
            rgb[i] = bgr[i + 2];
            rgb[i + 1] = bgr[i + 1];
            rgb[i + 2] = bgr[i];
        }
        status = spng_encode_row(ctx.get(), rgb.data(), rgb.size());
        if (status && status != SPNG_EOI)
            return false;
    }
    return status == SPNG_EOI;
}
