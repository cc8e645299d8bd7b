// GIF through giflib: the first picture of the file, placed on the logical
// screen as a browser shows it. Pixels of the transparent index have alpha
// 0 (with their palette colour), and so has the screen around a picture
// smaller than it. A file of more pictures, an animation, is compared by
// its first, which the caller learns from MorePictures.

#include "LibraryDecoders.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <memory>

namespace {

// The file for giflib, which asks for a few bytes at a time.
struct Source
{
    explicit Source(const CInputFile& file) : stream(file) {}
    CFileStream stream;
    const uint8_t* at = nullptr;
    size_t left = 0;
};

int ReadFunc(GifFileType* gif, GifByteType* out, int size)
{
    Source& source = *static_cast<Source*>(gif->UserData);
    int done = 0;
    while (done < size) {
        if (source.left == 0 && (source.left = source.stream.Next(source.at)) == 0)
            break;
        const size_t bytes = std::min(source.left, size_t(size - done));
        std::memcpy(out + done, source.at, bytes);
        source.at += bytes;
        source.left -= bytes;
        done += int(bytes);
    }
    return done;
}

class CGifDecoder : public CRowDecoder
{
public:
    explicit CGifDecoder(const CInputFile& file) : m_source(file) {}
    ~CGifDecoder() override
    {
        int error = 0;
        if (m_pGif)
            DGifCloseFile(m_pGif, &error);
    }

    // Reads up to the first picture's rows, from the file's start: again
    // for each reading.
    Trouble Open()
    {
        if (!m_source.stream.Allocated())
            return Trouble::OutOfMemory;
        int error = 0;
        if (m_pGif)
            DGifCloseFile(m_pGif, &error);
        m_source.stream.Seek(0);
        m_source.left = 0;
        m_pGif = DGifOpen(&m_source, ReadFunc, &error);
        if (!m_pGif)
            return Blame(error == D_GIF_ERR_NOT_ENOUGH_MEM ? Trouble::OutOfMemory : Trouble::GifDamaged);
        // Up to the first picture: the extension before it may name its
        // transparent index.
        int transparent = NO_TRANSPARENT_COLOR;
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(m_pGif, &type) == GIF_ERROR)
                return Blame(Trouble::GifDamaged);
            if (type == IMAGE_DESC_RECORD_TYPE)
                break;
            if (type != EXTENSION_RECORD_TYPE)
                return Blame(Trouble::GifDamaged);  // the end, with no picture
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(m_pGif, &code, &block) == GIF_ERROR)
                return Blame(Trouble::GifDamaged);
            if (code == GRAPHICS_EXT_FUNC_CODE && block) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_ERROR)
                    return Blame(Trouble::GifDamaged);
                transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(m_pGif, &block) == GIF_ERROR)
                    return Blame(Trouble::GifDamaged);
            }
        }
        if (DGifGetImageDesc(m_pGif) == GIF_ERROR)
            return Blame(Trouble::GifDamaged);
        const GifImageDesc& frame = m_pGif->Image;
        const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : m_pGif->SColorMap;
        if (!map || frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0)
            return Trouble::GifDamaged;
        m_frame = {frame.Left, frame.Top, frame.Width, frame.Height};
        m_bInterlaced = frame.Interlace;
        // A picture that reaches past the screen grows it, as browsers do.
        m_nWidth = std::max(m_pGif->SWidth, frame.Left + frame.Width);
        m_nHeight = std::max(m_pGif->SHeight, frame.Top + frame.Height);
        m_nColours = unsigned(std::clamp(map->ColorCount, 0, 256));
        for (unsigned i = 0; i < m_nColours; ++i) {
            const GifColorType& c = map->Colors[i];
            m_palette[i][0] = c.Blue;
            m_palette[i][1] = c.Green;
            m_palette[i][2] = c.Red;
            m_palette[i][3] = int(i) == transparent ? 0 : 255;
        }
        const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width == m_nWidth && frame.Height == m_nHeight;
        m_bAlpha = !covers || (transparent >= 0 && unsigned(transparent) < m_nColours);
        return Trouble::None;
    }

    uint64_t StartMemory(int) const override
    {
        return m_bInterlaced ? uint64_t(m_frame.width) * uint64_t(m_frame.height) : 0;
    }

    Trouble Start(int channels) override
    {
        if (m_bStarted) {
            if (const Trouble trouble = Open(); trouble != Trouble::None)
                return trouble;
        }
        m_bStarted = true;
        m_nChannels = channels;
        m_nNextRow = 0;
        // Not cleared: a picture that claims more rows than its data holds
        // fails before it touches them.
        m_pIndices.reset(new (std::nothrow) GifPixelType[size_t(m_frame.width) * size_t(m_bInterlaced ? m_frame.height : 1)]);
        if (!m_pIndices)
            return Trouble::OutOfMemory;
        if (!m_bInterlaced)
            return Trouble::None;
        // Interlaced rows come in four passes: every eighth from the first,
        // every eighth from the fifth, every fourth from the third, every
        // second from the second.
        static const int c_first[4] = {0, 4, 2, 1}, c_step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int y = c_first[pass]; y < m_frame.height; y += c_step[pass]) {
                if (DGifGetLine(m_pGif, m_pIndices.get() + size_t(y) * size_t(m_frame.width), m_frame.width) ==
                    GIF_ERROR)
                    return Blame(Trouble::GifDamaged);
            }
        }
        return Trouble::None;
    }

    Trouble Rows(int32_t count, uint8_t* out) override
    {
        const size_t bytes = size_t(m_nWidth) * size_t(m_nChannels);
        for (int32_t k = 0; k < count; ++k, ++m_nNextRow, out += bytes) {
            if (m_nNextRow >= m_nHeight)
                return Trouble::CannotRead;
            std::memset(out, 0, bytes);  // the screen around the picture
            const int y = m_nNextRow - m_frame.top;
            if (y < 0 || y >= m_frame.height)
                continue;
            const GifPixelType* indices = m_pIndices.get();
            if (m_bInterlaced)
                indices += size_t(y) * size_t(m_frame.width);
            else if (DGifGetLine(m_pGif, m_pIndices.get(), m_frame.width) == GIF_ERROR)
                return Blame(Trouble::GifDamaged);
            uint8_t* pixel = out + size_t(m_frame.left) * size_t(m_nChannels);
            for (int x = 0; x < m_frame.width; ++x, pixel += m_nChannels) {
                if (indices[x] >= m_nColours)
                    return Trouble::GifDamaged;
                std::memcpy(pixel, m_palette[indices[x]], size_t(m_nChannels));
            }
        }
        return Trouble::None;
    }

    Trouble Finish() override
    {
        m_pIndices.reset();
        // Whether another picture follows; what lies behind the first does
        // not change it (many files lack their trailer).
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(m_pGif, &type) == GIF_ERROR || type != EXTENSION_RECORD_TYPE) {
                m_bMorePictures = type == IMAGE_DESC_RECORD_TYPE;
                break;
            }
            int code = 0;
            GifByteType* block = nullptr;
            bool ok = DGifGetExtension(m_pGif, &code, &block) != GIF_ERROR;
            while (ok && block)
                ok = DGifGetExtensionNext(m_pGif, &block) != GIF_ERROR;
            if (!ok)
                break;
        }
        return Blame(Trouble::None);
    }

private:
    struct Frame
    {
        int left, top, width, height;
    };

    // A file that could not be read is a failed read, not damage.
    Trouble Blame(Trouble trouble) const { return m_source.stream.Failed() ? Trouble::CannotRead : trouble; }

    Source m_source;
    GifFileType* m_pGif = nullptr;
    Frame m_frame = {};
    bool m_bInterlaced = false;
    uint8_t m_palette[256][4] = {};
    unsigned m_nColours = 0;
    bool m_bStarted = false;
    // While reading rows:
    int m_nChannels = 3;
    int32_t m_nNextRow = 0;
    std::unique_ptr<GifPixelType[]> m_pIndices;  // a row, or the whole interlaced picture
};

} // namespace

Trouble OpenGifDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenDecoder<CGifDecoder>(decoder, file);
}
