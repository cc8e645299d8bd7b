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
        if (m_file.Size() > UINT32_MAX)
            return Trouble::ImageTooLarge;
        try {
            m_data.resize(size_t(m_file.Size()));
        } catch (const std::bad_alloc&) {
            return Trouble::OutOfMemory;
        }
        if (!m_file.ReadAt(0, m_data.data(), m_data.size()))
            return Trouble::CannotRead;
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
        m_bAlpha = transparency != FALSE;
        return Trouble::None;
    }

    uint64_t StartMemory(int channels) const override
    {
        return CWholeDecoder::StartMemory(channels) + m_data.size();
    }

protected:
    Trouble Decode(CImage& image) override
    {
        const CComThread com;
        Objects objects;
        if (const Trouble trouble = Frame(objects); trouble != Trouble::None)
            return trouble;
        const ImageView& view = image.View();
        Com<IWICFormatConverter> converter;
        const WICPixelFormatGUID& wanted = view.channels == 4 ? GUID_WICPixelFormat32bppBGRA
                                                             : GUID_WICPixelFormat24bppBGR;
        if (FAILED(Own(converter, [&](IWICFormatConverter** p) { return objects.factory->CreateFormatConverter(p); })) ||
            FAILED(converter->Initialize(objects.frame.get(), wanted, WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)))
            return Damaged(m_format);
        const uint64_t bytes = uint64_t(view.step) * uint64_t(view.height);
        if (bytes > UINT32_MAX)
            return Trouble::ImageTooLarge;
        const HRESULT hr = converter->CopyPixels(nullptr, UINT(view.step), UINT(bytes), image.Row(0));
        if (hr == E_OUTOFMEMORY)
            return Trouble::OutOfMemory;
        m_data = std::vector<uint8_t>();
        return SUCCEEDED(hr) ? Trouble::None : Damaged(m_format);
    }

private:
    struct Objects
    {
        Com<IWICImagingFactory> factory;
        Com<IWICStream> stream;
        Com<IWICBitmapDecoder> decoder;
        Com<IWICBitmapFrameDecode> frame;
    };

    // The file's first frame, decoded from the bytes in memory.
    Trouble Frame(Objects& o)
    {
        if (FAILED(Own(o.factory, [](IWICImagingFactory** p) {
                return ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IWICImagingFactory, reinterpret_cast<void**>(p));
            })) ||
            FAILED(Own(o.stream, [&](IWICStream** p) { return o.factory->CreateStream(p); })) ||
            FAILED(o.stream->InitializeFromMemory(m_data.data(), DWORD(m_data.size()))))
            return Trouble::OutOfMemory;
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
    std::vector<uint8_t> m_data;  // the file, until it is decoded
};

Trouble OpenWic(ImageFormat format, const CInputFile& file, std::unique_ptr<CRowDecoder>& decoder)
{
    auto wic = std::make_unique<CWicDecoder>(format, file);
    const Trouble trouble = wic->Open();
    decoder = std::move(wic);
    return trouble;
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
