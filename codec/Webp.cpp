// WebP through libwebp, lossy or lossless, with or without alpha: decoded
// whole into the picture (the format does not promise rows in order), its
// file fed to the decoder a piece at a time rather than held.

#include "LibraryDecoders.h"

#include <webp/decode.h>

#include <algorithm>
#include <vector>

namespace {

class CWebpDecoder : public CWholeDecoder
{
public:
    explicit CWebpDecoder(const CInputFile& file) : m_file(file) {}

    Trouble Open()
    {
        // The header and the first chunks say the size and whether there is
        // alpha or an animation.
        std::vector<uint8_t> head(size_t(std::min<uint64_t>(m_file.Size(), 4096)));
        if (!m_file.ReadAt(0, head.data(), head.size()))
            return Trouble::CannotRead;
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK)
            return Trouble::WebpDamaged;
        if (features.has_animation)
            return Trouble::WebpAnimated;
        m_nWidth = features.width;
        m_nHeight = features.height;
        m_bAlpha = features.has_alpha != 0;
        return Trouble::None;
    }

protected:
    Trouble Decode(CImage& image) override
    {
        const ImageView& view = image.View();
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            return Trouble::WebpDamaged;
        config.output.colorspace = view.channels == 4 ? MODE_BGRA : MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = image.Row(0);
        config.output.u.RGBA.stride = int(view.step);
        config.output.u.RGBA.size = size_t(view.step) * size_t(view.height);
        WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
        if (!decoder)
            return Trouble::OutOfMemory;
        CFileStream stream(m_file);
        VP8StatusCode status = stream.Allocated() ? VP8_STATUS_SUSPENDED : VP8_STATUS_OUT_OF_MEMORY;
        while (status == VP8_STATUS_SUSPENDED) {
            const uint8_t* piece = nullptr;
            const size_t size = stream.Next(piece);
            if (size == 0)
                break;
            status = WebPIAppend(decoder, piece, size);
        }
        WebPIDelete(decoder);
        WebPFreeDecBuffer(&config.output);
        if (stream.Failed())
            return Trouble::CannotRead;
        if (status == VP8_STATUS_OUT_OF_MEMORY)
            return Trouble::OutOfMemory;
        // Suspended at the file's end: it was cut short.
        return status == VP8_STATUS_OK ? Trouble::None : Trouble::WebpDamaged;
    }

private:
    const CInputFile& m_file;
};

} // namespace

Trouble OpenWebpDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenDecoder<CWebpDecoder>(decoder, file);
}
