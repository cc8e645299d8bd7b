#pragma once

// PNG files, read and decoded by our own code on every platform: the
// file's structure checked first (every chunk's checksum, the header, the
// palette and transparency, nothing after the end chunk), then the image
// data streamed through a fast inflate and unfiltered a band of rows at a
// time. Stored samples are taken as they are: gamma, colour profiles and
// rendering intents change nothing.

#include "Image.h"
#include "Inflate.h"
#include "LargeBuffer.h"
#include "RowSink.h"
#include "Trouble.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

bool IsPng(const uint8_t* data, size_t size);

// Reads `bytes` bytes of a file from `offset`; false when they are not all
// there or cannot be read.
using PngReader = std::function<bool(uint64_t offset, uint8_t* out, size_t bytes)>;

// A PNG file checked chunk by chunk. The image data stays in the file and
// is read again when it is inflated: memory holds neither the file nor its
// image data, nor anything that grows with the number of its chunks.
struct PngFile
{
    int32_t width = 0;
    int32_t height = 0;
    int depth = 0;
    int colourType = 0;
    bool bInterlaced = false;
    bool bAlpha = false;         // an alpha channel, or transparency from a tRNS chunk
    // The palette, as red, green, blue, alpha (from tRNS; opaque past it).
    uint8_t palette[256][4] = {};
    unsigned paletteEntries = 0;
    // The colour a tRNS chunk makes transparent in grey or colour pictures
    // (grey in all three), as stored: samples never match values past their range.
    bool bColourKey = false;
    uint16_t colourKey[3] = {};
    // The file with only the chunks the pixels depend on (the critical ones
    // and tRNS) but the image data: text, profiles and other metadata,
    // however many or large, never reach the decoder.
    std::vector<uint8_t> pixelChunks;
    size_t dataAt = 0;        // where the image data chunks stood among them
    uint64_t dataBegin = 0;   // the image data chunks, whole, in the file
    uint64_t dataEnd = 0;
    uint64_t dataDigest = 0;  // of their lengths and checksums
    PngReader read;           // the file's bytes
    // The whole file mapped (guarded: pages the file loses read as zeros),
    // or null: then it is read through `read`.
    const uint8_t* mapped = nullptr;

    // Channels a stored pixel has, and bytes a pixel has when filtered (1
    // for pixels smaller than a byte).
    int Samples() const;
    size_t FilterBytes() const { return size_t(Samples() * depth + 7) / 8; }
    // Bytes of a stored row of `width` pixels, its filter type not counted.
    uint64_t RowBytes(int32_t pixels) const { return (uint64_t(pixels) * uint64_t(Samples() * depth) + 7) / 8; }

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
// With `mapped`, the whole file in memory (guarded as CInputFile::Map
// guards it), nothing is read through `read` but what lies past its end.
Trouble ReadPngFile(uint64_t size, PngReader read, PngFile& png, const uint8_t* mapped = nullptr);
// The same for `size` bytes in memory, which must outlive `png`.
Trouble ReadPngFile(const uint8_t* data, size_t size, PngFile& png);

// The bytes decoding `png` into `channels` takes besides the file itself.
uint64_t PngDecodeMemory(const PngFile& png, int channels);

// Decodes into `image`: `channels` 3 (blue, green, red) or 4 (with alpha;
// 255 where the file has none). 0, or the trouble (damaged data, a palette
// index past the palette's end, out of memory).
Trouble DecodePng(const PngFile& png, int channels, CImage& image);

// A PNG decoded a band of rows at a time, top first, into `channels` (as
// DecodePng does), holding no more than a few rows of its own: for pictures
// that need not be held whole. Interlaced pictures come only whole. With
// `fileOrder` the colours come red, green, blue as files store them, which
// saves reordering every pixel where the order does not matter (a count).
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
    // After the last row: the image data stream checked to its end. None
    // only then.
    Trouble Finish();
    // The whole picture of an interlaced file, finished.
    Trouble Interlaced(CImage& image);
    // In place of Rows and Finish: whether the picture decodes, found out
    // with as little work as it takes (palette and interlaced pictures are
    // decoded, any other checked by CheckPngRows). None only when it does. Without
    // `checksums` the image data chunks' checksums may be left unchecked,
    // for the caller to check.
    Trouble Check(bool checksums = true);

private:
    struct State;
    const PngFile& m_png;
    int m_nChannels;
    std::unique_ptr<State> m_pState;
};

// Sample x of a row of packed `depth`-bit samples (1, 2, 4 or 8), the
// first in the high bits: a grey level or a palette index.
inline unsigned PackedSample(const uint8_t* row, int32_t x, int depth)
{
    if (depth == 8)
        return row[x];
    const unsigned bit = unsigned(x) * unsigned(depth);
    return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

// Whether every index of a row of `width` packed `depth`-bit palette
// indices lies inside a palette of `entries` colours.
bool PaletteIndicesValid(const uint8_t* row, int32_t width, int depth, unsigned entries);

// Inflated bytes a stream may hold past its last row and still be sound:
// other decoders take a little, but a stream that goes on and on is damage,
// found without inflating all of it.
constexpr uint64_t c_cbImageDataSlack = 1 << 20;

// A stretch of a PNG file, from `begin` to `end`, read a buffer of
// `capacity` at a time.
class CFileWindow
{
public:
    CFileWindow(const PngFile& png, uint64_t begin, uint64_t end, size_t capacity);

    // At least `bytes` (at most the capacity) from At(), read in as
    // needed; false when the stretch ends first or the file cannot be read
    // (ReadFailed).
    bool Ensure(size_t bytes);
    const uint8_t* At() const { return m_pData + m_nAt; }
    size_t Available() const { return m_nFull - m_nAt; }
    // Moves on, past what is at hand too.
    void Skip(uint64_t bytes);
    uint64_t Offset() const { return m_nDataAt + m_nAt; }
    uint64_t End() const { return m_nEnd; }
    bool ReadFailed() const { return m_bReadFailed; }
    bool Allocated() const { return m_pData != nullptr; }

private:
    const PngReader& m_read;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    const uint8_t* m_pData;  // the buffer, or the stretch in the file's mapping
    size_t m_nCapacity;
    uint64_t m_nDataAt;  // the buffer's first byte in the file
    uint64_t m_nEnd;
    size_t m_nFull = 0;  // bytes in the buffer
    size_t m_nAt = 0;    // the next byte to take
    bool m_bReadFailed = false;
};

// The image data stream of a PNG (its IDAT chunks) read from the file a
// buffer at a time, inflated and checked to its end: each chunk's checksum,
// the Adler-32, the slack behind the rows. Nothing may follow the stream's
// end. The chunks' headers are read from the buffer, however many.
class CImageDataStream
{
public:
    // Without `checksums` the chunks' checksums are not checked.
    explicit CImageDataStream(const PngFile& png, bool checksums = true);
    ~CImageDataStream();
    CImageDataStream(const CImageDataStream&) = delete;
    CImageDataStream& operator=(const CImageDataStream&) = delete;

    // Exactly `size` inflated bytes into `out`; None, or the trouble:
    // damage (the stream ends first), the file no longer readable, out of
    // memory.
    Trouble Read(uint8_t* out, size_t size);
    // After the rows: the rest of the stream, at most `slack` bytes,
    // inflated to its end and checked with every chunk left. None only then.
    Trouble Finish(uint64_t slack = c_cbImageDataSlack);

private:
    // The image data of a small picture of noise read whole and inflated at
    // once by libdeflate. Where it finds the stream anything but sound and
    // of the rows' size, the streaming inflate takes over the data read, to
    // decide as it always does.
    void InflateAtOnce();
    // The next input for the inflate into m_pIn, m_nIn: the image data of
    // as many chunks as fill m_pInput (the inflate is slow at the end of its
    // input), or a large piece where it lies. False at the image data's end
    // or on trouble (m_trouble).
    bool NextInput();
    // The next piece of a chunk's image data, in the window; false at the
    // image data's end or on trouble.
    bool NextPiece(const uint8_t*& piece, size_t& size);
    // Inflates into `out` until it is full or the stream ends.
    Trouble Inflate(uint8_t*& out, size_t& room);

    CFileWindow m_window;
    CInflater m_inflater;
    uint64_t m_nChunkLeft = 0;  // of the chunk being fed
    bool m_bChecksumDue = false;  // after it
    uint32_t m_crc = 0;        // and its checksum so far
    const uint8_t* m_pIn = nullptr;  // what the inflate takes next
    size_t m_nIn = 0;
    std::unique_ptr<uint8_t[]> m_pInput;
    const uint8_t* m_pPiece = nullptr;  // what is left of a piece
    size_t m_nPiece = 0;
    bool m_bChecksums;
    bool m_bEnded = false;
    Trouble m_trouble = Trouble::None;
    uint64_t m_nRows = 0;           // inflated bytes the rows take
    bool m_bAtOnce = false;         // to be inflated at once
    LargeBuffer m_pData;   // the image data read whole
    LargeBuffer m_pWhole;  // and inflated at once
    size_t m_nWhole = 0;
    size_t m_nWholeRead = 0;
};

// Whether the image data of `png` is inflated at once (CImageDataStream),
// and the memory that takes.
bool InflatesAtOnce(const PngFile& png);
uint64_t AtOnceMemory(const PngFile& png);

// Checks what decoding would check of a picture that is not interlaced
// without unfiltering its rows: the stream, and that every row is there,
// each with a known filter type. That proves the data sound where every
// byte of a row is a valid sample, as it is in all but palette images.
Trouble CheckPngRows(const PngFile& png, bool checksums = true);
