#include "PngCodec.h"

#include "InputFile.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct CtxDeleter
{
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

// The file as the decoder reads it: the chunks before and after the image
// data as they are, and the image data inflated once, here, and handed on
// in stored (uncompressed) deflate blocks that the decoder only copies.
// Inflating here lets the stream be checked to its end at the cost of one
// inflate, not two: the decoder stops at the last row, but reading the
// chunks after it takes the stream through to its end.
class CInflatedSource
{
public:
    explicit CInflatedSource(const PngFile& png) : m_png(png), m_stream(png) {}

    static int Read(spng_ctx*, void* user, void* destination, size_t length)
    {
        return static_cast<CInflatedSource*>(user)->Read(static_cast<uint8_t*>(destination), length);
    }

    // None once the whole stream was inflated and found sound.
    Trouble Finish()
    {
        while (m_trouble == Trouble::None && m_state != State::Done && Refill()) {
        }
        return m_trouble != Trouble::None ? m_trouble : m_stream.Ended() ? Trouble::None : Trouble::PngDamaged;
    }

private:
    enum class State { Before, Data, After, Done };

    int Read(uint8_t* destination, size_t length)
    {
        while (length > 0) {
            while (m_nPendingAt == m_nPending) {
                if (!Refill())
                    return m_trouble != Trouble::None ? SPNG_IO_ERROR : SPNG_IO_EOF;
            }
            const size_t part = std::min(length, m_nPending - m_nPendingAt);
            std::memcpy(destination, m_pPending + m_nPendingAt, part);
            m_nPendingAt += part;
            destination += part;
            length -= part;
        }
        return 0;
    }

    // The next piece of the file to hand over; false at its end or on trouble.
    bool Refill()
    {
        const std::vector<uint8_t>& bytes = m_png.pixelChunks;
        m_nPendingAt = 0;
        switch (m_state) {
        case State::Before:
            m_pPending = bytes.data();
            m_nPending = m_png.dataAt;
            m_state = State::Data;
            return true;
        case State::Data:
            return StoreData();
        case State::After:
            m_pPending = bytes.data() + m_png.dataAt;
            m_nPending = bytes.size() - m_png.dataAt;
            m_state = State::Done;
            return true;
        case State::Done:
            break;
        }
        return false;
    }

    // One image data chunk of one stored block, inflated straight into
    // place, and at the stream's end a last chunk with the final empty block.
    bool StoreData()
    {
        uint8_t* const chunk = m_chunk;
        size_t at = 8;
        if (m_bFirstBlock) {
            chunk[at++] = 0x78;  // a zlib header: deflate, no dictionary
            chunk[at++] = 0x01;
        }
        m_bFirstBlock = false;
        size_t produced = 0;
        m_trouble = m_stream.Next(chunk + at + 5, c_cbBlock, produced);
        if (m_trouble != Trouble::None)
            return false;
        if (produced > 0) {
            const uint8_t header[5] = {0x00, uint8_t(produced), uint8_t(produced >> 8), uint8_t(~produced),
                                       uint8_t(~produced >> 8)};
            std::memcpy(chunk + at, header, sizeof header);
            at += sizeof header + produced;
        }
        if (m_stream.Ended()) {
            // The decoder is told not to check this Adler-32: the stream's
            // own was checked by the inflate.
            const uint8_t last[9] = {0x01, 0x00, 0x00, 0xFF, 0xFF, 0, 0, 0, 1};
            std::memcpy(chunk + at, last, sizeof last);
            at += sizeof last;
            m_state = State::After;
        }
        const size_t length = at - 8;
        const uint8_t header[8] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                                   'I', 'D', 'A', 'T'};
        std::memcpy(chunk, header, sizeof header);
        std::memset(chunk + at, 0, 4);  // the decoder is told not to check checksums
        m_pPending = chunk;
        m_nPending = at + 4;
        return true;
    }

    static constexpr size_t c_cbBlock = 65535;

    const PngFile& m_png;
    CImageDataStream m_stream;
    State m_state = State::Before;
    Trouble m_trouble = Trouble::None;
    bool m_bFirstBlock = true;
    const uint8_t* m_pPending = nullptr;  // what is handed over next
    size_t m_nPending = 0;
    size_t m_nPendingAt = 0;
    // A chunk's header, the zlib header, a block's, its data, the final
    // block and the Adler-32, and the chunk's checksum.
    uint8_t m_chunk[8 + 2 + 5 + c_cbBlock + 9 + 4];
};

// Every checksum was checked chunk by chunk, and the image data stream is
// checked as it is inflated, so the decoder checks none of them again.
Ctx OpenDecoder(CInflatedSource& source)
{
    Ctx ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
    if (!ctx || spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE) ||
        spng_set_image_limits(ctx.get(), 0x7FFFFFFF, 0x7FFFFFFF) ||
        spng_set_png_stream(ctx.get(), CInflatedSource::Read, &source))
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

// How the decoder hands rows over, and what is left to do with them.
enum class Layout {
    Same,     // already as wanted: decoded straight into the band
    Rgb,      // the file's three channels
    Rgba,     // four channels: the file's own, or the decoder's with transparency applied
    Palette,  // packed palette indices
};

// Pixels of `Source` channels in the file's red, green, blue (, alpha)
// order into `Target` channels, red and blue swapped with `Swap`; an
// alpha the source does not have is opaque.
template <int Source, int Target, bool Swap>
void PutPixels(const uint8_t* source, int32_t width, uint8_t* target)
{
    for (int32_t x = 0; x < width; ++x, source += Source, target += Target) {
        target[0] = source[Swap ? 2 : 0];
        target[1] = source[1];
        target[2] = source[Swap ? 0 : 2];
        if constexpr (Target == 4)
            target[3] = Source == 4 ? source[3] : 255;
    }
}

template <int Source>
void PutPixels(const uint8_t* source, int32_t width, int channels, bool swap, uint8_t* target)
{
    if (channels == 4)
        (swap ? PutPixels<Source, 4, true> : PutPixels<Source, 4, false>)(source, width, target);
    else
        (swap ? PutPixels<Source, 3, true> : PutPixels<Source, 3, false>)(source, width, target);
}

// One decoded row into the wanted channels and order. False for an index
// past the palette.
bool ConvertRow(const uint8_t* source, Layout layout, const PngFile& png, const CPaletteColours* palette,
                int channels, bool swap, uint8_t* target)
{
    const int32_t width = png.width;
    switch (layout) {
    case Layout::Same:
        break;
    case Layout::Rgb:
        PutPixels<3>(source, width, channels, swap, target);
        break;
    case Layout::Rgba:
        PutPixels<4>(source, width, channels, swap, target);
        break;
    case Layout::Palette:
        if (!PaletteIndicesValid(source, width, png.depth, palette->Entries()))
            return false;
        for (int32_t x = 0; x < width; ++x, target += channels) {
            const uint8_t* rgba = (*palette)[PaletteIndex(source, x, png.depth)];
            target[0] = rgba[swap ? 2 : 0];
            target[1] = rgba[1];
            target[2] = rgba[swap ? 0 : 2];
            if (channels == 4)
                target[3] = rgba[3];
        }
        break;
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

// The decoder over one file, with the checks of the source's own: a trouble
// of the source (damage in the stream) says more than the decoder's read
// error that follows from it.
struct CPngRowDecoder::State
{
    explicit State(const PngFile& png) : source(png) {}

    Trouble Failed(int error)
    {
        const Trouble own = source.Finish();
        trouble = own != Trouble::None ? own : TroubleOfSpng(error);
        return trouble;
    }

    CInflatedSource source;
    Ctx ctx;
    std::unique_ptr<CPaletteColours> palette;
    std::vector<uint8_t> row;
    Layout layout = Layout::Rgba;
    int format = SPNG_FMT_RGBA8;
    int flags = 0;
    Trouble trouble = Trouble::None;
};

bool CPngRowDecoder::Streams(const PngFile& png)
{
    return !png.bInterlaced;
}

CPngRowDecoder::CPngRowDecoder(const PngFile& png, int channels, bool fileOrder)
    : m_png(png), m_nChannels(channels), m_bFileOrder(fileOrder), m_pState(std::make_unique<State>(png))
{
    State& state = *m_pState;
    state.ctx = OpenDecoder(state.source);
    if (!state.ctx) {
        state.trouble = Trouble::OutOfMemory;
        return;
    }
    spng_ihdr ihdr;
    if (const int error = spng_get_ihdr(state.ctx.get(), &ihdr)) {
        state.Failed(error);
        return;
    }
    // Eight-bit colour comes as the file stores it, and is at most
    // reordered or given its alpha here; a palette image comes as its
    // indices, which are checked against the palette; anything else (grey,
    // a transparent colour) as RGBA with the transparency applied.
    const bool rgb = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && ihdr.bit_depth == 8 && !png.bAlpha;
    const bool rgba = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA && ihdr.bit_depth == 8;
    state.format = SPNG_FMT_PNG;
    if (rgb || rgba)
        state.layout = fileOrder && (rgb ? 3 : 4) == channels ? Layout::Same : rgb ? Layout::Rgb : Layout::Rgba;
    else if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
        state.layout = Layout::Palette;
    else {
        state.layout = Layout::Rgba;
        state.format = SPNG_FMT_RGBA8;
        state.flags = SPNG_DECODE_TRNS;
    }
    size_t bytes = 0;
    if (const int error = spng_decoded_image_size(state.ctx.get(), state.format, &bytes)) {
        state.Failed(error);
        return;
    }
    if (state.layout != Layout::Same)
        state.row.resize(bytes / size_t(png.height));
    if (Streams(png)) {
        if (const int error = spng_decode_image(state.ctx.get(), nullptr, 0, state.format,
                                                state.flags | SPNG_DECODE_PROGRESSIVE)) {
            state.Failed(error);
            return;
        }
        if (state.layout == Layout::Palette)
            state.palette = std::make_unique<CPaletteColours>(state.ctx.get());
    }
}

CPngRowDecoder::~CPngRowDecoder() = default;

Trouble CPngRowDecoder::Rows(int32_t count, uint8_t* out)
{
    State& state = *m_pState;
    const size_t stride = size_t(m_png.width) * size_t(m_nChannels);
    for (int32_t k = 0; k < count && state.trouble == Trouble::None; ++k) {
        uint8_t* target = out + size_t(k) * stride;
        uint8_t* decoded = state.layout == Layout::Same ? target : state.row.data();
        const size_t bytes = state.layout == Layout::Same ? stride : state.row.size();
        const int status = spng_decode_row(state.ctx.get(), decoded, bytes);
        if (status != 0 && status != SPNG_EOI)
            return state.Failed(status);
        if (!ConvertRow(decoded, state.layout, m_png, state.palette.get(), m_nChannels, !m_bFileOrder, target))
            state.trouble = Trouble::PngDamaged;
    }
    return state.trouble;
}

Trouble CPngRowDecoder::Finish()
{
    State& state = *m_pState;
    if (state.trouble != Trouble::None)
        return state.trouble;
    // The chunks after the image data: their order is checked too, and the
    // image data stream is read to its end on the way.
    if (const int error = spng_decode_chunks(state.ctx.get()))
        return state.Failed(error);
    return state.trouble = state.source.Finish();
}

Trouble CPngRowDecoder::Check(bool checksums)
{
    State& state = *m_pState;
    if (state.trouble != Trouble::None || state.layout != Layout::Palette)
        return state.trouble != Trouble::None ? state.trouble : (state.trouble = CheckPngRows(m_png, checksums));
    std::vector<uint8_t> row(size_t(m_png.width) * size_t(m_nChannels));
    for (int32_t y = 0; y < m_png.height; ++y) {
        if (const Trouble trouble = Rows(1, row.data()); trouble != Trouble::None)
            return trouble;
    }
    return Finish();
}

Trouble CPngRowDecoder::Interlaced(CImage& image)
{
    State& state = *m_pState;
    if (state.trouble != Trouble::None)
        return state.trouble;
    // Zeroed: for samples of fewer than 8 bits the decoder ORs each pass's
    // bits into the output.
    const size_t rowBytes = state.layout == Layout::Same ? size_t(m_png.width) * size_t(m_nChannels) : state.row.size();
    std::vector<uint8_t> decoded(rowBytes * size_t(m_png.height), 0);
    if (const int error = spng_decode_image(state.ctx.get(), decoded.data(), decoded.size(), state.format, state.flags))
        return state.Failed(error);
    if (state.layout == Layout::Palette)
        state.palette = std::make_unique<CPaletteColours>(state.ctx.get());
    for (int32_t y = 0; y < m_png.height; ++y) {
        const uint8_t* row = decoded.data() + size_t(y) * rowBytes;
        if (state.layout == Layout::Same)
            std::memcpy(image.Row(y), row, rowBytes);
        else if (!ConvertRow(row, state.layout, m_png, state.palette.get(), m_nChannels, !m_bFileOrder, image.Row(y)))
            return state.trouble = Trouble::PngDamaged;
    }
    return Finish();
}

Trouble DecodePng(const PngFile& png, int channels, CImage& image)
{
    CPngRowDecoder decoder(png, channels);
    if (!image.Allocate(png.width, png.height, channels))
        return Trouble::OutOfMemory;
    if (CPngRowDecoder::Streams(png)) {
        for (int32_t y = 0; y < png.height; ++y) {
            if (const Trouble trouble = decoder.Rows(1, image.Row(y)); trouble != Trouble::None)
                return trouble;
        }
        return decoder.Finish();
    }
    return decoder.Interlaced(image);
}
