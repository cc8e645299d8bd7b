#include "SpngReference.h"

#include <spng.h>

#include <memory>
#include <vector>

namespace {

struct CtxDeleter
{
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

Ctx Open(const uint8_t* file, size_t size)
{
    Ctx ctx(spng_ctx_new(0));
    if (!ctx || spng_set_image_limits(ctx.get(), 0x7FFFFFFF, 0x7FFFFFFF) ||
        spng_set_png_buffer(ctx.get(), file, size))
        return nullptr;
    return ctx;
}

// libspng lets palette indices past the palette through: they are looked
// for in the picture as stored (passes put together, samples packed).
bool IndicesInPalette(const uint8_t* file, size_t size, const spng_ihdr& ihdr)
{
    Ctx ctx = Open(file, size);
    spng_plte plte = {};
    size_t bytes = 0;
    if (!ctx || spng_decoded_image_size(ctx.get(), SPNG_FMT_PNG, &bytes) || spng_get_plte(ctx.get(), &plte))
        return false;
    std::vector<uint8_t> stored(bytes, 0);
    if (spng_decode_image(ctx.get(), stored.data(), bytes, SPNG_FMT_PNG, 0))
        return false;
    const int depth = ihdr.bit_depth;
    const size_t rowBytes = bytes / ihdr.height;
    for (uint32_t y = 0; y < ihdr.height; ++y) {
        for (uint32_t x = 0; x < ihdr.width; ++x) {
            const size_t bit = size_t(x) * size_t(depth);
            const unsigned index = (stored[y * rowBytes + bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
            if (index >= plte.n_entries)
                return false;
        }
    }
    return true;
}

} // namespace

bool DecodeWithSpng(const uint8_t* file, size_t size, int channels, CImage& image)
{
    Ctx ctx = Open(file, size);
    spng_ihdr ihdr = {};
    size_t bytes = 0;
    if (!ctx || spng_get_ihdr(ctx.get(), &ihdr) || spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &bytes))
        return false;
    std::vector<uint8_t> rgba(bytes);
    if (spng_decode_image(ctx.get(), rgba.data(), bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS))
        return false;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && !IndicesInPalette(file, size, ihdr))
        return false;
    if (!image.Allocate(int32_t(ihdr.width), int32_t(ihdr.height), channels))
        return false;
    for (uint32_t y = 0; y < ihdr.height; ++y) {
        const uint8_t* source = rgba.data() + size_t(y) * ihdr.width * 4;
        uint8_t* target = image.Row(int32_t(y));
        for (uint32_t x = 0; x < ihdr.width; ++x, source += 4, target += channels) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            if (channels == 4)
                target[3] = source[3];
        }
    }
    return true;
}
