// JPEG, WebP, TIFF and GIF on Windows, through the system's imaging
// component: the file is read into memory once, and the first frame is
// decoded whole when its rows are asked for. WebP needs the system's codec
// for it; without it the file is refused as undecodable here.

#include "LibraryDecoders.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

// COM, for this thread, as long as the object lives: decoding runs on
// reader threads too.
class CComThread
{
public:
    CComThread() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComThread()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }

private:
    HRESULT m_hr;
};

struct Releaser
{
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using Com = std::unique_ptr<T, Releaser>;

// Gives a call's out-parameter to `owner` once the call has returned.
template <typename T, typename Call>
HRESULT Own(Com<T>& owner, Call&& call)
{
    T* made = nullptr;
    const HRESULT hr = call(&made);
    owner.reset(SUCCEEDED(hr) ? made : nullptr);
    return SUCCEEDED(hr) && !made ? E_FAIL : hr;
}

// A JPEG's size from its frame header, found by walking its markers; false
// when there is none.
bool JpegSize(const std::vector<uint8_t>& data, uint32_t& width, uint32_t& height)
{
    for (size_t at = 2; at + 9 <= data.size();) {
        if (data[at] != 0xFF)
            return false;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;  // fill bytes
            continue;
        }
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        // Start of frame: every SOFn but the DHT, JPG and DAC markers.
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            height = uint32_t(data[at + 5]) << 8 | data[at + 6];
            width = uint32_t(data[at + 7]) << 8 | data[at + 8];
            return true;
        }
        if (marker == 0xDA || marker == 0xD9 || length < 2)
            return false;
        at += 2 + length;
    }
    return false;
}

Trouble Damaged(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg: return Trouble::JpegDamaged;
    case ImageFormat::Webp: return Trouble::WebpDamaged;
    case ImageFormat::Tiff: return Trouble::TiffDamaged;
    default: return Trouble::GifDamaged;
    }
}

class CWicDecoder : public CWholeDecoder
{
public:
    CWicDecoder(ImageFormat format, const CInputFile& file) : m_format(format), m_file(file) {}

    Trouble Open()
    {
        const CComThread com;
        Objects objects;
        if (const Trouble trouble = Frame(objects); trouble != Trouble::None)
            return trouble;
        UINT width = 0, height = 0, frames = 0;
        if (FAILED(objects.frame->GetSize(&width, &height)))
            return Damaged(m_format);
        m_nWidth = int32_t(std::min<UINT>(width, INT32_MAX));
        m_nHeight = int32_t(std::min<UINT>(height, INT32_MAX));
        m_bMorePictures = SUCCEEDED(objects.decoder->GetFrameCount(&frames)) && frames > 1;
        if (m_format == ImageFormat::Webp && m_bMorePictures)
            return Trouble::WebpAnimated;

        // What the frame stores decides what is compared: more than 8 bits
        // a sample and CMYK are refused, as they are elsewhere.
        WICPixelFormatGUID stored;
        Com<IWICComponentInfo> info;
        Com<IWICPixelFormatInfo2> formatInfo;
        if (FAILED(objects.frame->GetPixelFormat(&stored)) ||
            FAILED(Own(info, [&](IWICComponentInfo** p) { return objects.factory->CreateComponentInfo(stored, p); })) ||
            FAILED(Own(formatInfo, [&](IWICPixelFormatInfo2** p) {
                return info->QueryInterface(IID_IWICPixelFormatInfo2, reinterpret_cast<void**>(p));
            })))
            return Damaged(m_format);
        UINT bits = 0, channels = 0;
        BOOL transparency = FALSE;
        WICPixelFormatNumericRepresentation numbers = WICPixelFormatNumericRepresentationUnsignedInteger;
        formatInfo->GetBitsPerPixel(&bits);
        formatInfo->GetChannelCount(&channels);
        formatInfo->SupportsTransparency(&transparency);
        formatInfo->GetNumericRepresentation(&numbers);
        if (m_format == ImageFormat::Jpeg && (IsEqualGUID(stored, GUID_WICPixelFormat32bppCMYK) || channels == 4))
            return Trouble::JpegCmyk;
        const bool deep = numbers == WICPixelFormatNumericRepresentationFloat ||
                          numbers == WICPixelFormatNumericRepresentationFixed ||
                          (numbers != WICPixelFormatNumericRepresentationIndexed && channels > 0 &&
                           bits / channels > 8);
        if (deep)
            return m_format == ImageFormat::Tiff ? Trouble::TiffDeepSamples : Damaged(m_format);
        // A GIF's palette may hold its transparent colour whatever the
        // pixel format says.
        m_bAlpha = transparency != FALSE || m_format == ImageFormat::Gif;
        return Trouble::None;
    }

    uint64_t StartMemory(int channels) const override
    {
        // The file, and the picture as BGRA besides when it is wanted as BGR.
        const uint64_t pixels = uint64_t(m_nWidth) * uint64_t(m_nHeight);
        return CWholeDecoder::StartMemory(channels) + m_file.Size() + (channels == 3 ? 4 * pixels : 0);
    }

protected:
    Trouble Decode(CImage& image) override
    {
        const CComThread com;
        Objects objects;
        if (const Trouble trouble = Frame(objects); trouble != Trouble::None)
            return trouble;
        const ImageView& view = image.View();
        // Whole: not every decoder of the system copies a part of the
        // picture (Wine's JPEG-compressed TIFF). Straight into the wanted
        // form, or, where the system cannot convert to it (Wine's grey and
        // palette pictures to BGR), through BGRA with alpha dropped here.
        const Trouble direct = Convert(objects, view.channels == 4 ? GUID_WICPixelFormat32bppBGRA
                                                                   : GUID_WICPixelFormat24bppBGR,
                                       view.step, image.Row(0));
        if (direct != Trouble::FormatUnavailable) {
            m_data = std::vector<uint8_t>();
            return direct;
        }
        const uint64_t stride = uint64_t(view.width) * 4;
        std::unique_ptr<uint8_t[]> bgra(new (std::nothrow) uint8_t[size_t(stride * uint64_t(view.height))]);
        if (!bgra)
            return Trouble::OutOfMemory;
        if (const Trouble trouble = Convert(objects, GUID_WICPixelFormat32bppBGRA, ptrdiff_t(stride), bgra.get());
            trouble != Trouble::None)
            return trouble == Trouble::FormatUnavailable ? Damaged(m_format) : trouble;
        for (int32_t y = 0; y < view.height; ++y) {
            const uint8_t* from = bgra.get() + size_t(y) * size_t(stride);
            uint8_t* to = image.Row(y);
            for (int32_t x = 0; x < view.width; ++x, from += 4, to += 3)
                to[0] = from[0], to[1] = from[1], to[2] = from[2];
        }
        m_data = std::vector<uint8_t>();
        return Trouble::None;
    }

private:
    struct Objects;

    // The frame's pixels converted to `format` into `out`, rows `stride`
    // apart; FormatUnavailable when the system cannot convert to it.
    Trouble Convert(Objects& objects, const WICPixelFormatGUID& format, ptrdiff_t stride, uint8_t* out)
    {
        const uint64_t bytes = uint64_t(stride) * uint64_t(m_nHeight);
        if (bytes > UINT32_MAX)
            return Trouble::ImageTooLarge;
        Com<IWICFormatConverter> converter;
        if (FAILED(Own(converter, [&](IWICFormatConverter** p) { return objects.factory->CreateFormatConverter(p); })))
            return Trouble::OutOfMemory;
        HRESULT hr = converter->Initialize(objects.frame.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                           WICBitmapPaletteTypeCustom);
        if (SUCCEEDED(hr))
            hr = converter->CopyPixels(nullptr, UINT(stride), UINT(bytes), out);
        if (hr == E_OUTOFMEMORY)
            return Trouble::OutOfMemory;
        if (hr == WINCODEC_ERR_UNSUPPORTEDOPERATION || hr == WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT)
            return Trouble::FormatUnavailable;
        return SUCCEEDED(hr) ? Trouble::None : Damaged(m_format);
    }

    struct Objects
    {
        Com<IWICImagingFactory> factory;
        Com<IWICStream> stream;
        Com<IWICBitmapDecoder> decoder;
        Com<IWICBitmapFrameDecode> frame;
    };

    // The file's first frame, decoded from its bytes in memory, read in
    // again for another reading.
    Trouble Frame(Objects& o)
    {
        if (m_data.empty()) {
            if (m_file.Size() > UINT32_MAX)
                return Trouble::ImageTooLarge;
            try {
                m_data.resize(size_t(m_file.Size()));
            } catch (const std::bad_alloc&) {
                return Trouble::OutOfMemory;
            }
            if (!m_file.ReadAt(0, m_data.data(), m_data.size()))
                return Trouble::CannotRead;
        }
        if (FAILED(Own(o.factory, [](IWICImagingFactory** p) {
                return ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IWICImagingFactory, reinterpret_cast<void**>(p));
            })) ||
            FAILED(Own(o.stream, [&](IWICStream** p) { return o.factory->CreateStream(p); })) ||
            FAILED(o.stream->InitializeFromMemory(m_data.data(), DWORD(m_data.size()))))
            return Trouble::OutOfMemory;
        // The system's JPEG decoder decodes the whole picture as it opens
        // the file, into a buffer sized in 32 bits (Wine's overflows): the
        // size is checked first. Every block of a JPEG costs a bit or more,
        // so a header that claims more blocks than the file has bits lies.
        if (m_format == ImageFormat::Jpeg) {
            uint32_t width = 0, height = 0;
            if (!JpegSize(m_data, width, height))
                return Trouble::JpegDamaged;
            const uint64_t pixels = uint64_t(width) * uint64_t(height);
            if (pixels / 64 > 8 * uint64_t(m_data.size()))
                return Trouble::JpegDamaged;
            if (pixels * 4 > UINT32_MAX)
                return Trouble::ImageTooLarge;
        }
        const HRESULT hr = Own(o.decoder, [&](IWICBitmapDecoder** p) {
            return o.factory->CreateDecoderFromStream(o.stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, p);
        });
        if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
            return m_format == ImageFormat::Webp ? Trouble::FormatUnavailable : Damaged(m_format);
        if (FAILED(hr) || FAILED(Own(o.frame, [&](IWICBitmapFrameDecode** p) { return o.decoder->GetFrame(0, p); })))
            return Damaged(m_format);
        return Trouble::None;
    }

    ImageFormat m_format;
    const CInputFile& m_file;
    std::vector<uint8_t> m_data;  // the file, from opening until decoded
};

Trouble OpenWic(ImageFormat format, const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenDecoder<CWicDecoder>(decoder, format, file);
}

} // namespace

Trouble OpenJpegDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenWic(ImageFormat::Jpeg, file, decoder);
}

Trouble OpenWebpDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenWic(ImageFormat::Webp, file, decoder);
}

Trouble OpenTiffDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenWic(ImageFormat::Tiff, file, decoder);
}

Trouble OpenGifDecoder(const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    return OpenWic(ImageFormat::Gif, file, decoder);
}
