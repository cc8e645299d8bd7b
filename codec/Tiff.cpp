// TIFF through libtiff, the first page: grey (1, 2, 4 or 8 bits, with or
// without alpha), palette (up to 8 bits), RGB and RGBA, in strips or tiles,
// with whatever compression libtiff reads. Strips are read a row at a
// time; tiles a row of tiles at a time. Unassociated alpha is read as
// stored (the RGBA helpers of libtiff would premultiply it).

#include "LibraryDecoders.h"
#include "PngCodec.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>

namespace {

// libtiff's messages are not printed: what went wrong becomes the trouble.
int Quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// The file through libtiff's procedures, at any offset.
struct Handle
{
    const CInputFile* file;
    uint64_t offset = 0;
    bool bFailed = false;
};

tmsize_t ReadProc(thandle_t context, void* buffer, tmsize_t size)
{
    Handle& h = *static_cast<Handle*>(context);
    if (size < 0 || h.offset >= h.file->Size())
        return 0;
    const uint64_t bytes = std::min<uint64_t>(uint64_t(size), h.file->Size() - h.offset);
    if (!h.file->ReadAt(h.offset, buffer, size_t(bytes))) {
        h.bFailed = true;
        return -1;
    }
    h.offset += bytes;
    return tmsize_t(bytes);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t SeekProc(thandle_t context, toff_t offset, int whence)
{
    Handle& h = *static_cast<Handle*>(context);
    const uint64_t base = whence == SEEK_CUR ? h.offset : whence == SEEK_END ? h.file->Size() : 0;
    h.offset = base + offset;
    return h.offset;
}

int CloseProc(thandle_t)
{
    return 0;
}

toff_t SizeProc(thandle_t context)
{
    return static_cast<Handle*>(context)->file->Size();
}

int MapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t)
{
}

// What libtiff allows itself in one allocation: a strip or a tile, never
// more than the file could fill at a thousand to one.
constexpr tmsize_t c_cbMostAllocation = tmsize_t(1) << 30;

class CTiffDecoder : public CRowDecoder
{
public:
    explicit CTiffDecoder(const CInputFile& file) { m_handle.file = &file; }
    ~CTiffDecoder() override
    {
        if (m_pTiff)
            TIFFClose(m_pTiff);
    }

    Trouble Open()
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options)
            return Trouble::OutOfMemory;
        TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, c_cbMostAllocation);
        // "m" keeps libtiff from mapping: every read goes through ReadProc.
        m_pTiff = TIFFClientOpenExt("tiff", "rm", &m_handle, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                                    MapProc, UnmapProc, options);
        TIFFOpenOptionsFree(options);
        if (!m_pTiff)
            return Blame(Trouble::TiffDamaged);
        return Layout();
    }

    uint64_t StartMemory(int channels) const override
    {
        // A row of tiles, converted, and one tile as stored.
        return m_bTiled ? uint64_t(m_nTileHeight) * uint64_t(m_nWidth) * uint64_t(channels) + m_cbTile : 0;
    }

    Trouble Start(int channels) override
    {
        m_nChannels = channels;
        m_nNextRow = 0;
        // Not cleared: a file that claims more than its data holds fails
        // before it touches them.
        m_nBandTop = -1;
        const uint64_t stored = m_bTiled ? m_cbTile : uint64_t(TIFFScanlineSize64(m_pTiff));
        m_pStored.reset(new (std::nothrow) uint8_t[size_t(stored)]);
        if (m_bTiled)
            m_pBand.reset(new (std::nothrow) uint8_t[size_t(m_nTileHeight) * size_t(m_nWidth) * size_t(channels)]);
        return stored > 0 && m_pStored && (!m_bTiled || m_pBand) ? Trouble::None : Trouble::OutOfMemory;
    }

    Trouble Rows(int32_t count, uint8_t* out) override
    {
        const size_t bytes = size_t(m_nWidth) * size_t(m_nChannels);
        for (int32_t k = 0; k < count; ++k, ++m_nNextRow, out += bytes) {
            if (m_nNextRow >= m_nHeight)
                return Trouble::CannotRead;
            if (!m_bTiled) {
                if (TIFFReadScanline(m_pTiff, m_pStored.get(), uint32_t(m_nNextRow), 0) < 0)
                    return Blame(Trouble::TiffDamaged);
                Convert(m_pStored.get(), m_nWidth, out);
                continue;
            }
            const int32_t top = m_nNextRow / m_nTileHeight * m_nTileHeight;
            if (top != m_nBandTop) {
                if (const Trouble trouble = ReadTiles(top); trouble != Trouble::None)
                    return trouble;
            }
            std::memcpy(out, m_pBand.get() + size_t(m_nNextRow - top) * bytes, bytes);
        }
        return Trouble::None;
    }

    Trouble Finish() override
    {
        m_pStored.reset();
        m_pBand.reset();
        return Blame(Trouble::None);
    }

private:
    // Reads the first page's layout; None when it is one we compare.
    Trouble Layout()
    {
        TIFF* tiff = m_pTiff;
        uint32_t width = 0, height = 0;
        uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = 0, planar = PLANARCONFIG_CONTIG;
        uint16_t compression = COMPRESSION_NONE;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) ||
            !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            return Blame(Trouble::TiffDamaged);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        uint16_t extras = 0;
        uint16_t* extraKinds = nullptr;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
        m_nWidth = int32_t(std::min<uint32_t>(width, INT32_MAX));
        m_nHeight = int32_t(std::min<uint32_t>(height, INT32_MAX));
        m_bMorePictures = !TIFFLastDirectory(tiff);

        if (bits > 8 || format == SAMPLEFORMAT_IEEEFP || format == SAMPLEFORMAT_COMPLEXIEEEFP)
            return Trouble::TiffDeepSamples;
        if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
            return Trouble::TiffLayout;
        // JPEG-compressed YCbCr comes out as RGB from the JPEG decoder.
        if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
            if (!TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
                return Trouble::TiffLayout;
            photometric = PHOTOMETRIC_RGB;
        }
        int colours = 0;
        switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE: colours = 1; break;
        case PHOTOMETRIC_PALETTE: colours = 1; break;
        case PHOTOMETRIC_RGB: colours = 3; break;
        default: return Trouble::TiffLayout;
        }
        m_nPhotometric = photometric;
        m_nDepth = bits;
        m_nSamples = samples;
        // One alpha sample behind the colours, unless it is premultiplied;
        // an RGBA file that does not say what its fourth sample is has alpha.
        const bool alpha = samples == colours + 1 && (extras == 0 || extraKinds[0] != EXTRASAMPLE_ASSOCALPHA);
        if ((samples != colours && !alpha) || (colours == 3 && bits != 8) || (alpha && bits != 8) ||
            (bits != 1 && bits != 2 && bits != 4 && bits != 8) || planar != PLANARCONFIG_CONTIG)
            return Trouble::TiffLayout;
        m_bAlpha = alpha;
        if (photometric == PHOTOMETRIC_PALETTE && !ReadPalette())
            return Blame(Trouble::TiffDamaged);

        m_bTiled = TIFFIsTiled(tiff) != 0;
        if (m_bTiled) {
            uint32_t tileWidth = 0, tileHeight = 0;
            if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) ||
                !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight) || tileWidth == 0 || tileHeight == 0 ||
                tileWidth > 65536 || tileHeight > 65536)
                return Blame(Trouble::TiffDamaged);
            m_nTileWidth = int32_t(tileWidth);
            m_nTileHeight = int32_t(tileHeight);
            m_cbTile = uint64_t(TIFFTileSize64(tiff));
            if (m_cbTile == 0 || m_cbTile > uint64_t(c_cbMostAllocation))
                return Blame(Trouble::TiffDamaged);
        }
        return Trouble::None;
    }

    // The colour map, in 16 bits a sample, scaled down as libtiff's own
    // tools and ImageMagick do (rounding down); old writers stored 8 bits,
    // which shows as no entry over 255.
    bool ReadPalette()
    {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(m_pTiff, TIFFTAG_COLORMAP, &red, &green, &blue))
            return false;
        const unsigned entries = 1u << m_nDepth;
        bool wide = false;
        for (unsigned i = 0; i < entries; ++i)
            wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
        const auto narrow = [wide](uint16_t value) {
            return uint8_t(wide ? value / 257 : value);
        };
        for (unsigned i = 0; i < entries; ++i) {
            m_palette[i][0] = narrow(blue[i]);
            m_palette[i][1] = narrow(green[i]);
            m_palette[i][2] = narrow(red[i]);
        }
        return true;
    }

    // `count` stored pixels into blue, green, red (and alpha).
    void Convert(const uint8_t* stored, int32_t count, uint8_t* out) const
    {
        const int channels = m_nChannels;
        if (m_nPhotometric == PHOTOMETRIC_RGB) {
            const int samples = m_nSamples;
            for (int32_t x = 0; x < count; ++x, stored += samples, out += channels) {
                out[0] = stored[2];
                out[1] = stored[1];
                out[2] = stored[0];
                if (channels == 4)
                    out[3] = m_bAlpha ? stored[3] : 255;
            }
            return;
        }
        const int depth = m_nDepth;
        const unsigned most = (1u << depth) - 1;
        const bool inverted = m_nPhotometric == PHOTOMETRIC_MINISWHITE;
        for (int32_t x = 0; x < count; ++x, out += channels) {
            unsigned value, alpha = 255;
            if (m_bAlpha) {
                value = stored[2 * x];
                alpha = stored[2 * x + 1];
            } else {
                value = PackedSample(stored, x, depth);
            }
            if (m_nPhotometric == PHOTOMETRIC_PALETTE) {
                std::memcpy(out, m_palette[value], 3);
            } else {
                const uint8_t grey = uint8_t((inverted ? most - value : value) * 255 / most);
                out[0] = out[1] = out[2] = grey;
            }
            if (channels == 4)
                out[3] = uint8_t(alpha);
        }
    }

    // The row of tiles whose top row is `top`, into the band.
    Trouble ReadTiles(int32_t top)
    {
        const size_t bytes = size_t(m_nWidth) * size_t(m_nChannels);
        const int32_t rows = std::min(m_nTileHeight, m_nHeight - top);
        const tmsize_t rowBytes = TIFFTileRowSize(m_pTiff);
        for (int32_t left = 0; left < m_nWidth; left += m_nTileWidth) {
            if (TIFFReadTile(m_pTiff, m_pStored.get(), uint32_t(left), uint32_t(top), 0, 0) < 0)
                return Blame(Trouble::TiffDamaged);
            const int32_t across = std::min(m_nTileWidth, m_nWidth - left);
            for (int32_t y = 0; y < rows; ++y)
                Convert(m_pStored.get() + size_t(y) * size_t(rowBytes), across,
                        m_pBand.get() + size_t(y) * bytes + size_t(left) * size_t(m_nChannels));
        }
        m_nBandTop = top;
        return Trouble::None;
    }

    // A file that could not be read is a failed read, not damage.
    Trouble Blame(Trouble trouble) const { return m_handle.bFailed ? Trouble::CannotRead : trouble; }

    Handle m_handle;
    TIFF* m_pTiff = nullptr;
    int m_nPhotometric = 0;
    int m_nDepth = 8;
    int m_nSamples = 1;
    uint8_t m_palette[256][3] = {};
    bool m_bTiled = false;
    int32_t m_nTileWidth = 0;
    int32_t m_nTileHeight = 0;
    uint64_t m_cbTile = 0;
    // While reading rows:
    int m_nChannels = 3;
    int32_t m_nNextRow = 0;
    int32_t m_nBandTop = -1;
    std::unique_ptr<uint8_t[]> m_pStored;  // a row or a tile as stored
    std::unique_ptr<uint8_t[]> m_pBand;    // a row of tiles, converted
};

} // namespace

Trouble OpenTiffDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenDecoder<CTiffDecoder>(decoder, file);
}
