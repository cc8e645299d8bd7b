#pragma once

// PNG files through the platform's own decoder: libspng here, the Windows
// Imaging Component on Windows (Png_spng.cpp, Png_wic.cpp). The
// file's structure is checked here first, the same on both: every chunk's
// checksum, the header, and nothing after the end chunk. Stored samples are
// taken as they are: gamma, colour profiles and rendering intents change
// nothing.

#include "Image.h"
#include "RowSink.h"
#include "Trouble.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct z_stream_s;

bool IsPng(const uint8_t* data, size_t size);

// Reads `bytes` bytes of a file from `offset`; false when they are not all
// there or cannot be read.
using PngReader = std::function<bool(uint64_t offset, uint8_t* out, size_t bytes)>;

// Where one image data chunk's contents lie in the file, and its checksum.
struct PngSpan
{
    uint64_t offset;
    uint32_t length;
    uint32_t crc;  // as the file gives it: checked when the chunk is read
};

// A PNG file checked chunk by chunk. The image data stays in the file and
// is read again, piece by piece, when it is inflated: memory holds neither
// the file nor its image data.
struct PngFile
{
    int32_t width = 0;
    int32_t height = 0;
    int depth = 0;
    int colourType = 0;
    bool bInterlaced = false;
    bool bAlpha = false;         // an alpha channel, or transparency from a tRNS chunk
    // The file with only the chunks the pixels depend on (the critical ones
    // and tRNS) but the image data: text, profiles and other metadata,
    // however many or large, never reach the decoder.
    std::vector<uint8_t> pixelChunks;
    size_t dataAt = 0;              // where the image data chunks stood among them
    std::vector<PngSpan> imageData;  // the image data chunks, in the file
    PngReader read;                  // the file's bytes

    // The whole file as the decoder reads it, image data included: a PNG
    // of the same pixels without the metadata.
    bool Bytes(std::vector<uint8_t>& out) const;
    // The same, piece by piece into `out`.
    bool Copy(const ByteSink& out) const;
    // Whether `other` has the same header, palette, transparency and image
    // data bytes: then both decode alike. With `sound`, whether this file's
    // image data chunks match their checksums too, found on the way.
    bool SameData(const PngFile& other, bool* sound = nullptr) const;
    // The same, judged by the image data chunks' lengths and checksums
    // alone, without reading them: true for every pair SameData takes, and
    // for hardly any other.
    bool LooksSame(const PngFile& other) const;
};

// Checks the structure of a file of `size` bytes read through `read` and
// keeps what the decoder needs: 0, or the trouble (damaged: a bad checksum,
// a chunk after the end; cut short or unreadable; 16-bit samples; a side
// over 65,535 pixels). The file is read in small pieces, all but the image
// data, which is only found: it is read, and its checksums checked, where
// it is inflated.
Trouble ReadPngFile(uint64_t size, PngReader read, PngFile& png);
// The same for `size` bytes in memory, which must outlive `png`.
Trouble ReadPngFile(const uint8_t* data, size_t size, PngFile& png);

// The bytes decoding `png` into `channels` takes besides the file itself.
uint64_t PngDecodeMemory(const PngFile& png, int channels);

// Decodes into `image`: `channels` 3 (blue, green, red) or 4 (with alpha;
// 255 where the file has none). 0, or the trouble (damaged data, a palette
// index past the palette's end, out of memory).
Trouble DecodePng(const PngFile& png, int channels, CImage& image);

// A PNG decoded a band of rows at a time, top first, into `channels` (as
// DecodePng does), holding no more than a row of the decoder's own: for
// pictures that need not be held whole. Interlaced pictures, and the
// system's decoder on Windows, come only whole. With `fileOrder` the
// colours come red, green, blue as files store them, which saves
// reordering every pixel where the order does not matter (a count).
class CPngRowDecoder
{
public:
    CPngRowDecoder(const PngFile& png, int channels, bool fileOrder = false);
    ~CPngRowDecoder();
    CPngRowDecoder(const CPngRowDecoder&) = delete;
    CPngRowDecoder& operator=(const CPngRowDecoder&) = delete;

    // Whether `png` can be decoded row by row here.
    static bool Streams(const PngFile& png);
    // The next `count` rows, width * channels bytes each, into `out`.
    Trouble Rows(int32_t count, uint8_t* out);
    // After the last row: the chunks behind the image data, and the image
    // data stream checked to its end. None only then.
    Trouble Finish();
    // The whole picture of an interlaced file, finished.
    Trouble Interlaced(CImage& image);
    // In place of Rows and Finish: whether the picture decodes, found out
    // with as little work as it takes (palette images are decoded, any
    // other checked by CheckPngRows). None only when it does. Without
    // `checksums` the image data chunks' checksums may be left unchecked,
    // for the caller to check.
    Trouble Check(bool checksums = true);

private:
    struct State;
    const PngFile& m_png;
    int m_nChannels;
    bool m_bFileOrder;
    std::unique_ptr<State> m_pState;
};

// Index x of a row of packed `depth`-bit palette indices (1, 2, 4 or 8).
inline unsigned PaletteIndex(const uint8_t* row, int32_t x, int depth)
{
    const unsigned bit = unsigned(x) * unsigned(depth);
    return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

// Whether every index of a row of `width` packed `depth`-bit palette
// indices lies inside a palette of `entries` colours: a decoder may let an
// index past the end through.
bool PaletteIndicesValid(const uint8_t* row, int32_t width, int depth, unsigned entries);

// The CRC-32 of PNG chunks.
uint32_t Crc32(const uint8_t* data, size_t size);

// The image data stream of a PNG (its IDAT chunks) read and inflated piece
// by piece and checked to its end: each chunk's checksum, and what a
// decoder would not see once it has every row (a bad Adler-32, damage
// behind the rows). Nothing may follow the stream's end.
class CImageDataStream
{
public:
    // Without `checksums` the chunks' checksums are not checked.
    explicit CImageDataStream(const PngFile& png, bool checksums = true);
    ~CImageDataStream();
    CImageDataStream(const CImageDataStream&) = delete;
    CImageDataStream& operator=(const CImageDataStream&) = delete;

    // Up to `capacity` inflated bytes into `out` (fewer only at the end);
    // None, or the trouble: damage, a stream cut short, the file no longer
    // readable, out of memory.
    Trouble Next(uint8_t* out, size_t capacity, size_t& produced);
    bool Ended() const { return m_bEnded; }

private:
    // The next piece of image data from the file into the inflate's input.
    bool NextInput();

    // Ends the inflate and frees the stream.
    struct StreamEnd
    {
        void operator()(z_stream_s* stream) const;
    };

    const PngFile& m_png;
    std::unique_ptr<z_stream_s, StreamEnd> m_pStream;  // null when it could not start
    std::vector<uint8_t> m_input;
    size_t m_nSpan = 0;       // the chunk being fed
    uint64_t m_nSpanDone = 0;  // and how much of it
    unsigned long m_crc = 0;   // and its checksum so far
    bool m_bChecksums;
    bool m_bEnded = false;
    bool m_bReadFailed = false;
    bool m_bBadChecksum = false;
};

// Inflates the whole image data stream of `png` to its end.
Trouble CheckPngImageData(const PngFile& png);

// The same for a picture that is not interlaced, checking what decoding
// would check of its rows without unfiltering them: that every row is
// there, each with a known filter type. That proves the data sound where
// every byte of a row is a valid sample, as it is in all but palette images.
Trouble CheckPngRows(const PngFile& png, bool checksums = true);
