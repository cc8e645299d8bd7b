#include "PngCodec.h"

#include "BmpFormat.h"
#include "PairCompare.h"
#include "Platform.h"
#include "ResultCodes.h"

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

struct CtxDeleter
{
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

// Every checksum checked, the sides bounded by what a PNG allows (the
// comparer's own limit is checked on the header), chunks kept small.
Ctx OpenDecoder(const unsigned char* data, size_t size)
{
    Ctx ctx(spng_ctx_new(0));
    if (!ctx || spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR) ||
        spng_set_image_limits(ctx.get(), 0x7FFFFFFF, 0x7FFFFFFF) ||
        spng_set_chunk_limits(ctx.get(), 1 << 26, 1 << 26) || spng_set_png_buffer(ctx.get(), data, size))
        return nullptr;
    return ctx;
}

int Trouble(int error)
{
    switch (error) {
    case SPNG_IO_EOF:
    case SPNG_EOF: return IDS_CANNOT_READ;
    case SPNG_EMEM: return IDS_OUT_OF_MEMORY;
    default: return c_nTroublePngDamaged;
    }
}

// A decoder over the file with its header read; 0 or the trouble.
int OpenHeader(const unsigned char* data, size_t size, Ctx& ctx, spng_ihdr& ihdr)
{
    ctx = OpenDecoder(data, size);
    if (!ctx)
        return IDS_OUT_OF_MEMORY;
    const int error = spng_get_ihdr(ctx.get(), &ihdr);
    return error ? Trouble(error) : 0;
}

uint64_t AvailableMemory()
{
    const long pages = sysconf(_SC_AVPHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : UINT64_MAX;
}

} // namespace

int ReadPngInfo(const unsigned char* data, size_t size, PngInfo& info)
{
    Ctx ctx;
    spng_ihdr ihdr;
    if (const int result = OpenHeader(data, size, ctx, ihdr))
        return result;
    if (ihdr.bit_depth > 8)
        return c_nTroublePng16Bit;
    if (ihdr.width > uint32_t(c_nMaxDimension) || ihdr.height > uint32_t(c_nMaxDimension))
        return IDS_IMAGE_TOO_LARGE;
    // Both images of a pair are decoded at once, with up to four bytes a pixel.
    if (2 * 4 * uint64_t(ihdr.width) * ihdr.height > AvailableMemory())
        return IDS_OUT_OF_MEMORY;
    spng_trns trns;
    info.width = int32_t(ihdr.width);
    info.height = int32_t(ihdr.height);
    info.bAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                  spng_get_trns(ctx.get(), &trns) == 0;
    return 0;
}

int DecodePng(const unsigned char* data, size_t size, int channels, ImageBuffer& image)
{
    FreeImageBuffer(image);
    Ctx ctx;
    spng_ihdr ihdr;
    if (const int result = OpenHeader(data, size, ctx, ihdr))
        return result;
    const int32_t width = int32_t(ihdr.width), height = int32_t(ihdr.height);
    const bool palette = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED;

    // A palette image comes as its indices, which are checked against the
    // palette (the decoder lets an index past its end through); anything
    // else as RGBA with its transparency applied.
    const int fmt = palette ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    size_t bytes = 0;
    if (const int error = spng_decoded_image_size(ctx.get(), fmt, &bytes))
        return Trouble(error);
    // Zeroed: for interlaced images of fewer than 8 bits a sample, the
    // decoder ORs each pass's bits into the output.
    std::unique_ptr<unsigned char, decltype(&std::free)> decoded(static_cast<unsigned char*>(std::calloc(bytes, 1)), std::free);
    if (!decoded)
        return IDS_OUT_OF_MEMORY;
    if (const int error = spng_decode_image(ctx.get(), decoded.get(), bytes, fmt, palette ? 0 : SPNG_DECODE_TRNS))
        return Trouble(error);
    // The chunks after the image data, so that their checksums (and the end
    // of the last image data chunk) are checked too.
    if (const int error = spng_decode_chunks(ctx.get()))
        return Trouble(error);

    uint8_t lookup[256][4] = {};
    uint32_t entries = 0;
    if (palette) {
        spng_plte plte = {};
        spng_trns trns = {};
        spng_get_plte(ctx.get(), &plte);
        const bool transparency = spng_get_trns(ctx.get(), &trns) == 0;
        entries = plte.n_entries;
        for (uint32_t i = 0; i < entries && i < 256; ++i) {
            lookup[i][0] = plte.entries[i].red;
            lookup[i][1] = plte.entries[i].green;
            lookup[i][2] = plte.entries[i].blue;
            lookup[i][3] = transparency && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
        }
    }

    const int depth = ihdr.bit_depth;
    const int32_t stride = channels == 3 ? BmpStride(width) : 4 * width;
    std::unique_ptr<unsigned char, decltype(&std::free)> pixels(
        static_cast<unsigned char*>(std::calloc(size_t(stride) * size_t(height), 1)), std::free);
    if (!pixels)
        return IDS_OUT_OF_MEMORY;
    const size_t rowBytes = palette ? (size_t(width) * depth + 7) / 8 : 4 * size_t(width);
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* source = decoded.get() + size_t(y) * rowBytes;
        unsigned char* target = pixels.get() + size_t(height - 1 - y) * stride;
        for (int32_t x = 0; x < width; ++x, target += channels) {
            const uint8_t* rgba = source + 4 * size_t(x);
            if (palette) {
                const unsigned bit = unsigned(x) * depth;
                const unsigned index = (source[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
                if (index >= entries)
                    return c_nTroublePngDamaged;
                rgba = lookup[index];
            }
            target[0] = rgba[2];
            target[1] = rgba[1];
            target[2] = rgba[0];
            if (channels == 4)
                target[3] = rgba[3];
        }
    }
    image = {width, height, stride, pixels.release()};
    return 0;
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
