#include "PngCodec.h"

#include "BmpFormat.h"
#include "PairCompare.h"
#include "Platform.h"
#include "ResultCodes.h"

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
#include <vector>

extern "C" DWORD WINAPI RtlComputeCrc32(DWORD initial, const BYTE* data, INT length);

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

uint32_t Big32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The chunks as the file lays them out, each checksum checked, up to IEND:
// what the system's decoder may not check is checked here, before it runs.
int WalkChunks(const unsigned char* data, size_t size, bool& transparency)
{
    transparency = false;
    for (size_t at = 8;;) {
        if (size - at < 12)
            return IDS_CANNOT_READ;
        const uint32_t length = Big32(data + at);
        if (length > size - at - 12)
            return IDS_CANNOT_READ;
        const unsigned char* type = data + at + 4;
        if (RtlComputeCrc32(0, type, INT(length + 4)) != Big32(type + 4 + length))
            return c_nTroublePngDamaged;
        transparency = transparency || std::memcmp(type, "tRNS", 4) == 0;
        if (std::memcmp(type, "IEND", 4) == 0)
            return 0;
        at += 12 + size_t(length);
    }
}

IWICImagingFactory* Factory(Com<IWICImagingFactory>& factory)
{
    IWICImagingFactory* created = nullptr;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created));
    factory.reset(created);
    return created;
}

} // namespace

int ReadPngInfo(const unsigned char* data, size_t size, PngInfo& info)
{
    if (!IsPng(data, size) || size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return c_nTroublePngDamaged;
    const uint32_t width = Big32(data + 16), height = Big32(data + 20);
    const unsigned depth = data[24], colourType = data[25];
    bool transparency = false;
    if (const int result = WalkChunks(data, size, transparency))
        return result;
    if (depth > 8)
        return c_nTroublePng16Bit;
    if (width == 0 || height == 0)
        return c_nTroublePngDamaged;
    if (width > uint32_t(c_nMaxDimension) || height > uint32_t(c_nMaxDimension))
        return IDS_IMAGE_TOO_LARGE;
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    if (::GlobalMemoryStatusEx(&memory) && 2 * 4 * uint64_t(width) * height > memory.ullAvailPhys)
        return IDS_OUT_OF_MEMORY;
    info.width = int32_t(width);
    info.height = int32_t(height);
    info.bAlpha = colourType == 4 || colourType == 6 || transparency;
    return 0;
}

int DecodePng(const unsigned char* data, size_t size, int channels, ImageBuffer& image)
{
    FreeImageBuffer(image);
    PngInfo info;
    if (const int result = ReadPngInfo(data, size, info))
        return result;
    const CComThread com;
    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    if (!Factory(factory) || !Own(stream, [&](IWICStream** p) { return factory->CreateStream(p); }) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size))) ||
        !Own(decoder, [&](IWICBitmapDecoder** p) {
            return factory->CreateDecoderFromStream(stream.get(), &GUID_ContainerFormatPng,
                                                    WICDecodeMetadataCacheOnDemand, p);
        }) ||
        !Own(frame, [&](IWICBitmapFrameDecode** p) { return decoder->GetFrame(0, p); }))
        return c_nTroublePngDamaged;

    // Palette indices are checked against the palette before anything is
    // made of them.
    WICPixelFormatGUID format;
    Com<IWICPalette> palette;
    UINT colours = 0;
    const UINT width = UINT(info.width), height = UINT(info.height);
    if (SUCCEEDED(frame->GetPixelFormat(&format)) &&
        (format == GUID_WICPixelFormat1bppIndexed || format == GUID_WICPixelFormat2bppIndexed ||
         format == GUID_WICPixelFormat4bppIndexed || format == GUID_WICPixelFormat8bppIndexed)) {
        const UINT depth = format == GUID_WICPixelFormat8bppIndexed ? 8 : format == GUID_WICPixelFormat4bppIndexed ? 4
                           : format == GUID_WICPixelFormat2bppIndexed ? 2 : 1;
        const UINT rowBytes = (width * depth + 7) / 8;
        std::vector<BYTE> indices(size_t(rowBytes) * height);
        if (!Own(palette, [&](IWICPalette** p) { return factory->CreatePalette(p); }) ||
            FAILED(frame->CopyPalette(palette.get())) ||
            FAILED(palette->GetColorCount(&colours)) ||
            FAILED(frame->CopyPixels(nullptr, rowBytes, UINT(indices.size()), indices.data())))
            return c_nTroublePngDamaged;
        for (UINT y = 0; y < height; ++y) {
            for (UINT x = 0; x < width; ++x) {
                const UINT bit = x * depth;
                const UINT index = (indices[size_t(y) * rowBytes + bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
                if (index >= colours)
                    return c_nTroublePngDamaged;
            }
        }
    }

    Com<IWICBitmapSource> bgra;
    std::vector<BYTE> rows;
    try {
        rows.resize(size_t(width) * 4 * height);
    } catch (const std::bad_alloc&) {
        return IDS_OUT_OF_MEMORY;
    }
    if (!Own(bgra, [&](IWICBitmapSource** p) { return ::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.get(), p); }) ||
        FAILED(bgra->CopyPixels(nullptr, width * 4, UINT(rows.size()), rows.data())))
        return c_nTroublePngDamaged;

    const int32_t stride = channels == 3 ? BmpStride(info.width) : 4 * info.width;
    auto* pixels = static_cast<unsigned char*>(std::calloc(size_t(stride) * height, 1));
    if (!pixels)
        return IDS_OUT_OF_MEMORY;
    for (UINT y = 0; y < height; ++y) {
        const BYTE* source = rows.data() + size_t(y) * width * 4;
        unsigned char* target = pixels + size_t(height - 1 - y) * stride;
        for (UINT x = 0; x < width; ++x, source += 4, target += channels)
            std::memcpy(target, source, size_t(channels));
    }
    image = {info.width, info.height, stride, pixels};
    return 0;
}

bool EncodePng(COutputFile& out, int32_t width, int32_t height,
               const std::function<void(int32_t y, unsigned char* bgr)>& row)
{
    const CComThread com;
    Com<IWICImagingFactory> factory;
    Com<IStream> memory;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    if (!Factory(factory) || !Own(memory, [&](IStream** p) { return ::CreateStreamOnHGlobal(nullptr, TRUE, p); }) ||
        !Own(encoder, [&](IWICBitmapEncoder** p) { return factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, p); }) ||
        FAILED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache)) ||
        !Own(frame, [&](IWICBitmapFrameEncode** p) { return encoder->CreateNewFrame(p, nullptr); }) ||
        FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(UINT(width), UINT(height))))
        return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR)
        return false;
    std::vector<BYTE> bgr(3 * size_t(width));
    for (int32_t y = 0; y < height; ++y) {
        row(y, bgr.data());
        if (FAILED(frame->WritePixels(1, UINT(bgr.size()), UINT(bgr.size()), bgr.data())))
            return false;
    }
    if (FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return false;

    // The encoded file, from the memory stream into the output.
    STATSTG stat = {};
    LARGE_INTEGER start = {};
    if (FAILED(memory->Stat(&stat, STATFLAG_NONAME)) || FAILED(memory->Seek(start, STREAM_SEEK_SET, nullptr)))
        return false;
    std::vector<BYTE> buffer(1 << 20);
    for (ULONGLONG left = stat.cbSize.QuadPart; left > 0;) {
        ULONG got = 0;
        if (FAILED(memory->Read(buffer.data(), ULONG(std::min<ULONGLONG>(left, buffer.size())), &got)) || got == 0 ||
            !out.Write(buffer.data(), got))
            return false;
        left -= got;
    }
    return true;
}
