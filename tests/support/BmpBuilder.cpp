#include "BmpBuilder.h"

#include "RowSink.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

void Put(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes = 4)
{
    for (int i = 0; i < bytes; ++i)
        out[at + i] = uint8_t(value >> (8 * i));
}

unsigned long ProcessId()
{
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return unsigned(::getpid());
#endif
}

bool IsProcessAlive(unsigned long pid)
{
#ifdef _WIN32
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
#else
    return ::kill(pid_t(pid), 0) == 0;
#endif
}

constexpr char c_szPrefix[] = "tobrel-test-";

// Folders named tobrel-test-PID-... whose process is gone.
void RemoveLeftovers(const std::filesystem::path& base)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(c_szPrefix, 0) != 0)
            continue;
        const unsigned long pid = std::strtoul(name.c_str() + sizeof c_szPrefix - 1, nullptr, 10);
        if (pid != 0 && pid != ProcessId() && !IsProcessAlive(pid))
            std::filesystem::remove_all(entry.path(), error);
    }
}

} // namespace

Rgb Gradient(int x, int y)
{
    return {uint8_t(x * 7 + y * 3), uint8_t(x * 13 + 5), uint8_t(y * 11 + 17)};
}

BmpSpec Picture(int width, int height, PixelFn pixel)
{
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixel = std::move(pixel);
    return spec;
}

std::vector<uint8_t> BuildBmp(const BmpSpec& spec)
{
    const int64_t rows = spec.height < 0 ? -int64_t(spec.height) : spec.height;
    const int64_t width = spec.width > 0 ? spec.width : 0;
    const int64_t stride = (width * 3 + 3) / 4 * 4;
    const size_t pixelStart = 14 + spec.infoSize + spec.gapBytes;
    std::vector<uint8_t> out(pixelStart + size_t(stride * rows), 0);

    out[0] = uint8_t(spec.signature[0]);
    out[1] = uint8_t(spec.signature[1]);
    Put(out, 2, uint32_t(out.size()));
    Put(out, 10, uint32_t(spec.offBits >= 0 ? spec.offBits : int64_t(pixelStart)));
    if (spec.infoSize >= 4)
        Put(out, 14, spec.infoSize);
    if (spec.infoSize >= 40) {
        Put(out, 18, uint32_t(spec.width));
        Put(out, 22, uint32_t(spec.height));
        Put(out, 26, 1, 2);
        Put(out, 28, spec.bitCount, 2);
        Put(out, 30, spec.compression);
        Put(out, 34, uint32_t(spec.sizeImage >= 0 ? spec.sizeImage : stride * rows));
    }
    // The gap and the rest of a long header hold a pattern that a loader
    // starting at the wrong place would pick up.
    for (size_t i = 54; i < pixelStart; ++i)
        out[i] = uint8_t(0xA5 ^ i);

    for (int64_t r = 0; r < rows; ++r) {
        // Stored row r is picture row y: bottom-up unless the height is negative.
        const int y = int(spec.height < 0 ? r : rows - 1 - r);
        uint8_t* row = out.data() + pixelStart + r * stride;
        for (int x = 0; x < width; ++x) {
            const Rgb c = spec.pixel(x, y);
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
        for (int64_t p = width * 3; p < stride; ++p)
            row[p] = 0xEE;  // padding is never interpreted
    }
    return out;
}

MemoryImage::MemoryImage(int w, int h, uint8_t fill)
    : width(w), height(h), stride((w * 3 + 3) / 4 * 4), bytes(size_t(stride) * h, fill)
{
}

MemoryImage::MemoryImage(int w, int h, const PixelFn& pixel) : MemoryImage(w, h)
{
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb c = pixel(x, y);
            At(x, y)[0] = c.b;
            At(x, y)[1] = c.g;
            At(x, y)[2] = c.r;
        }
    }
}

Rgb PairBase(int x, int y)
{
    return {uint8_t(30 + 20 * x), uint8_t(60 + 25 * y), uint8_t(100 + x + y)};
}

Rgb PairChanged(int x, int y)
{
    Rgb c = PairBase(x, y);
    if (x == 4 && y == 0)
        c.r = uint8_t(c.r + 40);
    if (x == 1 && y == 2)
        c.g = uint8_t(c.g - 12);
    if (x == 5 && y == 3)
        c.b = uint8_t(c.b + 3);
    return c;
}

std::wstring ColourText(int x, int y, const Rgb& c)
{
    return L"XY=(" + std::to_wstring(x) + L", " + std::to_wstring(y) + L"), RGB=(" + std::to_wstring(c.r) + L", " +
           std::to_wstring(c.g) + L", " + std::to_wstring(c.b) + L")";
}

std::wstring WidePath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path.wstring();
#else
    const std::u8string utf8 = path.u8string();
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned lead = utf8[i];
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            c = c << 6 | (utf8[i + k] & 0x3F);
        wide += wchar_t(c);
        i += size_t(extra) + 1;
    }
    return wide;
#endif
}

TempDir::TempDir()
{
    static std::atomic<int> s_counter{0};
    const auto base = std::filesystem::temp_directory_path();
    if (s_counter == 0)
        RemoveLeftovers(base);
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = base / (c_szPrefix + std::to_string(ProcessId()) + "-" + std::to_string(now) + "-" +
                     std::to_string(s_counter++));
    if (!std::filesystem::create_directory(m_path))
        throw std::runtime_error("cannot create " + m_path.string());
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::WritePng(const std::string& name, int width, int height, const PixelFn& pixel) const
{
    std::vector<uint8_t> bytes;
    const auto sink = NewPngSink([&](const void* data, size_t count) {
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
        return true;
    }, width, height, 3);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[3 * size_t(x)] = c.r, row[3 * size_t(x) + 1] = c.g, row[3 * size_t(x) + 2] = c.b;
        }
        sink->Row(row.data());
    }
    if (!sink->Finish())
        throw std::runtime_error("cannot encode " + name);
    return Write(name, bytes);
}

std::filesystem::path TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    const auto path = m_path / std::filesystem::path(reinterpret_cast<const char8_t*>(name.c_str()));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    return path;
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
