// JPEG through libjpeg-turbo, scanline by scanline: a baseline file holds
// a few rows at a time, a progressive one the coefficients of every block
// (budgeted from its header before they are allocated).

#include "JpegDecode.h"
#include "LibraryDecoders.h"

namespace {

Trouble JpegTrouble(int status)
{
    switch (status) {
    case JPEG_DECODE_OK: return Trouble::None;
    case JPEG_DECODE_NO_MEMORY: return Trouble::OutOfMemory;
    case JPEG_DECODE_TOO_LARGE: return Trouble::ImageTooLarge;
    case JPEG_DECODE_CMYK: return Trouble::JpegCmyk;
    default: return Trouble::JpegDamaged;
    }
}

class CJpegDecoder : public CRowDecoder
{
public:
    explicit CJpegDecoder(const CInputFile& file) : m_stream(file) {}
    ~CJpegDecoder() override { JpegDecodeDelete(m_pJpeg); }

    // Reads the header, from the file's start: again for each reading.
    Trouble Open()
    {
        JpegDecodeDelete(m_pJpeg);
        m_stream.Seek(0);
        if (!m_stream.Allocated() || !(m_pJpeg = JpegDecodeNew(Read, this)))
            return Trouble::OutOfMemory;
        uint32_t width = 0, height = 0;
        if (const Trouble trouble = Status(JpegDecodeHeader(m_pJpeg, &width, &height, &m_cbCoefficients));
            trouble != Trouble::None)
            return trouble;
        m_nWidth = int32_t(width);
        m_nHeight = int32_t(height);
        // Every block costs at least a bit in a file of several scans (its
        // first DC difference): a header that claims more blocks than the
        // file has bits lies, and its coefficients are not allocated.
        if (m_cbCoefficients / (64 * sizeof(int16_t)) > 8 * m_stream.Size())
            return Trouble::JpegDamaged;
        return Trouble::None;
    }

    uint64_t StartMemory(int) const override { return m_cbCoefficients; }

    Trouble Start(int channels) override
    {
        if (m_bStarted) {
            if (const Trouble trouble = Open(); trouble != Trouble::None)
                return trouble;
        }
        m_bStarted = true;
        m_nChannels = channels;
        // The decoder's own buffers besides the coefficients are a few rows.
        return Status(JpegDecodeStart(m_pJpeg, channels, m_cbCoefficients + (64 << 20)));
    }

    Trouble Rows(int32_t count, uint8_t* out) override
    {
        const size_t stride = size_t(m_nWidth) * size_t(m_nChannels);
        return Status(JpegDecodeRows(m_pJpeg, out, uint32_t(count), stride));
    }

    Trouble Finish() override { return Status(JpegDecodeFinish(m_pJpeg)); }

private:
    static size_t Read(void* context, const unsigned char** data)
    {
        return static_cast<CJpegDecoder*>(context)->m_stream.Next(*data);
    }

    // A file that could not be read to its end is a failed read, not damage.
    Trouble Status(int status) const
    {
        return m_stream.Failed() ? Trouble::CannotRead : JpegTrouble(status);
    }

    CFileStream m_stream;
    JpegDecode* m_pJpeg = nullptr;
    uint64_t m_cbCoefficients = 0;
    int m_nChannels = 3;
    bool m_bStarted = false;
};

} // namespace

Trouble OpenJpegDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenDecoder<CJpegDecoder>(decoder, file);
}
