#pragma once

// The formats a library decodes for us: JPEG, WebP, TIFF and GIF, through
// libjpeg-turbo, libwebp, libtiff and giflib, or through the system's
// imaging component on Windows. Each is a row source of the same shape as
// our own PNG decoder, told apart from the others by its first bytes.

#include "Image.h"
#include "InputFile.h"
#include "Trouble.h"

#include <cstddef>
#include <cstdint>
#include <memory>

enum class ImageFormat
{
    Bmp,  // and anything not recognised: the BMP checks say what it is not
    Png,
    Jpeg,
    Webp,
    Tiff,
    Gif,
};

// The format of a file that begins with `data`.
ImageFormat SniffFormat(const uint8_t* data, size_t size);

// A picture decoded a band of rows at a time, top first, into 3 channels
// (blue, green, red) or 4 (with alpha; 255 where the file has none).
class CRowDecoder
{
public:
    virtual ~CRowDecoder() = default;

    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    bool HasAlpha() const { return m_bAlpha; }
    // After Finish: whether the file holds more pictures than the first,
    // which is the one compared (an animation's first frame).
    bool MorePictures() const { return m_bMorePictures; }

    // What Start allocates for `channels` beyond a few rows: the whole
    // picture where the format decodes only whole, the coefficients of a
    // progressive JPEG.
    virtual uint64_t StartMemory(int channels) const = 0;
    virtual Trouble Start(int channels) = 0;
    // The next `count` rows, width * channels bytes each, into `out`.
    virtual Trouble Rows(int32_t count, uint8_t* out) = 0;
    // After the last row: the rest of the file checked as far as the
    // format tells damage. None only then.
    virtual Trouble Finish() = 0;

protected:
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    bool m_bAlpha = false;
    bool m_bMorePictures = false;
};

// Reads the header of `file`, which begins as `format` says, and checks
// what decides whether it can be compared; the file must outlive the
// decoder. None and a decoder, or the trouble.
Trouble OpenRowDecoder(ImageFormat format, const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder);

// A decoder that decodes the whole picture in Start and hands out its rows.
class CWholeDecoder : public CRowDecoder
{
public:
    uint64_t StartMemory(int channels) const override
    {
        return uint64_t(m_nWidth) * uint64_t(m_nHeight) * uint64_t(channels);
    }
    Trouble Start(int channels) override;
    Trouble Rows(int32_t count, uint8_t* out) override;
    Trouble Finish() override;

protected:
    // The picture into `image`, allocated in `channels`.
    virtual Trouble Decode(CImage& image) = 0;

private:
    CImage m_whole;
    int32_t m_nNextRow = 0;
};

// A file read from the start in pieces of a fixed size, for libraries that
// take their input as a stream.
class CFileStream
{
public:
    CFileStream(const CInputFile& file, size_t capacity = 64 * 1024);

    // The next piece, at most the capacity; 0 bytes at the end of the file
    // or when it can no longer be read (Failed).
    size_t Next(const uint8_t*& data);
    uint64_t Size() const { return m_file.Size(); }
    void Seek(uint64_t offset) { m_nOffset = offset; }
    bool Failed() const { return m_bFailed; }
    bool Allocated() const { return m_pBuffer != nullptr; }

private:
    const CInputFile& m_file;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    size_t m_nCapacity;
    uint64_t m_nOffset = 0;
    bool m_bFailed = false;
};
