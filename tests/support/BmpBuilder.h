#pragma once

// Test pictures: BMP files built byte by byte with every header field open to
// change (good variants and hostile files alike), images held in memory the
// way a loaded file is, the pair the window tests compare, and temporary
// folders.

#include "ImageBuffer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct Rgb
{
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

using PixelFn = std::function<Rgb(int x, int y)>;

// A colour that differs at every position, for checking where pixels land.
Rgb Gradient(int x, int y);

struct BmpSpec
{
    int32_t width = 1;
    int32_t height = 1;           // negative: rows stored top row first
    uint32_t infoSize = 40;       // 40, 108 or 124 in real files
    uint32_t gapBytes = 0;        // extra bytes between the headers and the rows
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    int64_t sizeImage = -1;       // -1: stride * rows
    int64_t offBits = -1;         // -1: where the rows really start
    char signature[2] = {'B', 'M'};
    PixelFn pixel = Gradient;
};

BmpSpec Picture(int width, int height, PixelFn pixel = Gradient);
std::vector<uint8_t> BuildBmp(const BmpSpec& spec);

// An image in memory, addressed as a loaded file: rows bottom-up, padded.
struct MemoryImage
{
    MemoryImage(int w, int h, uint8_t fill = 0);
    MemoryImage(int w, int h, const PixelFn& pixel);

    uint8_t* At(int x, int y) { return bytes.data() + size_t(height - 1 - y) * stride + 3 * size_t(x); }
    ImageBuffer Record() { return {width, height, stride, bytes.data()}; }

    int width, height, stride;
    std::vector<uint8_t> bytes;
};

// The pair the window tests compare: a 6 x 4 picture, and the same with three
// pixels changed: (4, 0) by +40 in red, (1, 2) by -12 in green, (5, 3) by +3
// in blue. At tolerance 1 all three differ, at 12 two, above 40 none.
Rgb PairBase(int x, int y);
Rgb PairChanged(int x, int y);

// An image window's status text for pixel (x, y) of colour c.
std::wstring ColourText(int x, int y, const Rgb& c);

// The path as the UTF-16 (Windows) or UTF-32 text the loader takes, whatever
// the process's locale.
std::wstring WidePath(const std::filesystem::path& path);

// A file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);

// A fresh folder, removed with the object. Its name holds the process id, so
// the first folder a process makes also removes what killed runs left.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::filesystem::path WriteBmp(const std::string& name, const BmpSpec& spec) const
    {
        return Write(name, BuildBmp(spec));
    }
    // An 8-bit RGB PNG of the pixels, as the comparer writes PNG.
    std::filesystem::path WritePng(const std::string& name, int width, int height, const PixelFn& pixel) const;

private:
    std::filesystem::path m_path;
};
