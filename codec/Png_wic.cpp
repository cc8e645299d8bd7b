#include "PngCodec.h"

#include "InputFile.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

// COM, for this thread, as long as the object lives: decoding runs on
// worker threads too.
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

// Gives a call's out-parameter to `owner` once the call has returned:
// Own(owner, [&](T** p) { return object->Make(p); }).
template <typename T, typename Call>
bool Own(Com<T>& owner, Call&& call)
{
    T* made = nullptr;
    const bool ok = SUCCEEDED(call(&made)) && made;
    owner.reset(made);
    return ok;
}

IWICImagingFactory* Factory(Com<IWICImagingFactory>& factory)
{
    IWICImagingFactory* created = nullptr;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
    factory.reset(created);
    return created;
}

} // namespace

uint64_t PngDecodeMemory(const PngFile& png, int channels)
{
    // The system's decoder hands over the whole picture as BGRA first, and
    // palette indices whole for their check.
    const uint64_t pixels = uint64_t(png.width) * uint64_t(png.height);
    return uint64_t(channels) * pixels + 4 * pixels + (png.colourType == 3 ? pixels : 0);
}

// The system's decoder gives whole pictures only.
struct CPngRowDecoder::State
{
};

bool CPngRowDecoder::Streams(const PngFile&)
{
    return false;
}

CPngRowDecoder::CPngRowDecoder(const PngFile& png, int channels, bool fileOrder)
    : m_png(png), m_nChannels(channels), m_bFileOrder(fileOrder)
{
}

CPngRowDecoder::~CPngRowDecoder() = default;

Trouble CPngRowDecoder::Rows(int32_t, uint8_t*)
{
    return Trouble::PngDamaged;
}

Trouble CPngRowDecoder::Finish()
{
    return Trouble::PngDamaged;
}

Trouble CPngRowDecoder::Check(bool)
{
    CImage image;
    return DecodePng(m_png, m_nChannels, image);
}

Trouble CPngRowDecoder::Interlaced(CImage& image)
{
    const Trouble trouble = DecodePng(m_png, m_nChannels, image);
    if (trouble != Trouble::None || !m_bFileOrder)
        return trouble;
    // The system gives blue first; the file's order is red first.
    const ImageView& view = image.View();
    for (int32_t y = 0; y < view.height; ++y) {
        uint8_t* row = image.Row(y);
        for (int32_t x = 0; x < view.width; ++x, row += m_nChannels)
            std::swap(row[0], row[2]);
    }
    return Trouble::None;
}

Trouble DecodePng(const PngFile& png, int channels, CImage& image)
{
    const CComThread com;
    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    // The system's decoder reads the file whole, from a copy in memory.
    std::vector<uint8_t> data;
    try {
        if (!png.Bytes(data))
            return Trouble::CannotRead;
    } catch (const std::bad_alloc&) {
        return Trouble::OutOfMemory;
    }
    if (!Factory(factory) || !Own(stream, [&](IWICStream** p) { return factory->CreateStream(p); }) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data.data()), DWORD(data.size()))) ||
        !Own(decoder, [&](IWICBitmapDecoder** p) {
            return factory->CreateDecoderFromStream(stream.get(), &GUID_ContainerFormatPng,
                                                    WICDecodeMetadataCacheOnDemand, p);
        }) ||
        !Own(frame, [&](IWICBitmapFrameDecode** p) { return decoder->GetFrame(0, p); }))
        return Trouble::PngDamaged;

    // Palette indices are checked against the palette before anything is
    // made of them.
    const UINT width = UINT(png.width), height = UINT(png.height);
    if (png.colourType == 3) {
        WICPixelFormatGUID format;
        Com<IWICPalette> palette;
        UINT colours = 0;
        const int depth = png.depth;
        const UINT rowBytes = (width * UINT(depth) + 7) / 8;
        std::vector<BYTE> indices;
        try {
            indices.resize(size_t(rowBytes) * height);
        } catch (const std::bad_alloc&) {
            return Trouble::OutOfMemory;
        }
        if (FAILED(frame->GetPixelFormat(&format)) ||
            !Own(palette, [&](IWICPalette** p) { return factory->CreatePalette(p); }) ||
            FAILED(frame->CopyPalette(palette.get())) || FAILED(palette->GetColorCount(&colours)) ||
            FAILED(frame->CopyPixels(nullptr, rowBytes, UINT(indices.size()), indices.data())))
            return Trouble::PngDamaged;
        for (UINT y = 0; y < height; ++y) {
            if (!PaletteIndicesValid(indices.data() + size_t(y) * rowBytes, png.width, depth, colours))
                return Trouble::PngDamaged;
        }
    }

    Com<IWICBitmapSource> bgra;
    std::vector<BYTE> rows;
    try {
        rows.resize(size_t(width) * 4 * height);
    } catch (const std::bad_alloc&) {
        return Trouble::OutOfMemory;
    }
    if (!Own(bgra, [&](IWICBitmapSource** p) { return ::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(), p); }) ||
        FAILED(bgra->CopyPixels(nullptr, width * 4, UINT(rows.size()), rows.data())))
        return Trouble::PngDamaged;

    if (!image.Allocate(png.width, png.height, channels))
        return Trouble::OutOfMemory;
    for (UINT y = 0; y < height; ++y) {
        const BYTE* source = rows.data() + size_t(y) * width * 4;
        uint8_t* target = image.Row(int32_t(y));
        for (UINT x = 0; x < width; ++x, source += 4, target += channels)
            std::memcpy(target, source, size_t(channels));
    }
    return CheckPngImageData(png);
}
