#pragma once

#include "BmpFormat.h"
#include "Image.h"
#include "InputFile.h"
#include "PngCodec.h"
#include "RowDecoder.h"
#include "Trouble.h"

#include <memory>
#include <string>
#include <vector>

// Bands of rows of about a quarter of a megabyte: read into buffers, two of
// them, one from each file, stay in the cache of the core that compares them.
constexpr size_t c_cbReadBand = 256 * 1024;

// One input of a comparison, a BMP, PNG, JPEG, WebP, TIFF or GIF file told
// apart by its first bytes: a row source. Open reads and checks what says
// whether the file can be compared; then Start, Next band after band from
// the top, and Finish give the pixels without holding the picture (a
// picture that decodes only whole, an interlaced PNG or a WebP, is decoded
// whole by Start). Decode gives the whole picture at once, for those who
// want it.
class CImageFile
{
public:
    CImageFile();
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    Trouble Open(const std::string& path);
    int32_t Width() const { return m_nWidth; }
    int32_t Height() const { return m_nHeight; }
    ImageFormat Format() const { return m_format; }
    bool HasAlpha() const { return IsPngFile() ? m_png.bAlpha : m_pLibrary && m_pLibrary->HasAlpha(); }
    // After Finish: whether the file holds more pictures than the one
    // compared, its first (an animated GIF, a TIFF of several pages).
    bool MorePictures() const { return m_pLibrary && m_pLibrary->MorePictures(); }
    // The PNG as read, for decoding it a band of rows at a time.
    const PngFile* Png() const { return IsPngFile() ? &m_png : nullptr; }
    // Whether both are PNG files whose pixels come from the same bytes: the
    // same header, palette, transparency and image data; with `sound`, and
    // whether this file's image data matches its checksums.
    bool SamePngData(const CImageFile& other, bool* sound = nullptr) const
    {
        return IsPngFile() && other.IsPngFile() && m_png.SameData(other.m_png, sound);
    }
    // The same judged by checksums, without reading the image data.
    bool LooksLikeSamePng(const CImageFile& other) const
    {
        return IsPngFile() && other.IsPngFile() && m_png.LooksSame(other.m_png);
    }

    // What Start allocates for `channels` beyond a few rows: the whole
    // picture of a file that decodes only whole, else nothing.
    uint64_t StartMemory(int channels) const;
    // Begins reading rows from the top in `channels` (3, or 4 with alpha:
    // 255 where the file has none), blue, green, red, or with `fileOrder`
    // in the order a PNG stores them (red first), which saves reordering
    // where the order does not matter.
    Trouble Start(int channels, bool fileOrder = false);
    // The next `count` rows, width * channels bytes each, into `out`.
    Trouble Next(int32_t count, uint8_t* out);
    // After the last row: what the file holds behind them checked (a PNG's
    // image data to its end, with its checksums), and the file unchanged
    // since it was opened. None only then.
    Trouble Finish();

    // The whole picture in `channels` (3, or 4 with alpha: 255 where the
    // file has none).
    Trouble Decode(int channels, CImage& image);

    // A BMP's picture rows firstRow to endRow - 1 as three channels, seen
    // through `rows`: in the file's mapping, or read into `buffer`.
    Trouble ReadRows(int32_t firstRow, int32_t endRow, std::vector<uint8_t>& buffer, ImageView& rows) const;
    // A BMP's whole picture in the file's mapping; false when it is not
    // mapped.
    bool MappedPicture(ImageView& picture) const;
    // How many rows of this BMP make a band of about `bytes`.
    int32_t RowsPerBand(size_t bytes) const;

    // CannotRead when the file was changed, cut short or removed since it
    // was opened: what was read of it may not be one picture.
    Trouble CheckUnchanged() const;
    // The file's size and the CRC-32 of all its bytes, read again; false
    // when it cannot be read or changed since it was opened.
    bool Digest(uint64_t& size, uint32_t& crc) const;

private:
    bool IsPngFile() const { return m_format == ImageFormat::Png; }
    // Trouble found while reading is the file's changing when it changed.
    Trouble Blame(Trouble trouble) const;

    CInputFile m_file;
    const uint8_t* m_pMapped = nullptr;
    BmpLayout m_layout;
    PngFile m_png;
    ImageFormat m_format = ImageFormat::Bmp;
    std::unique_ptr<CRowDecoder> m_pLibrary;  // a format a library decodes
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    // While reading rows:
    int m_nChannels = 3;
    int32_t m_nNextRow = 0;
    std::unique_ptr<CPngRowDecoder> m_pDecoder;
    CImage m_whole;  // a picture that decodes only whole
    std::vector<uint8_t> m_band;  // a BMP's rows as read
};
