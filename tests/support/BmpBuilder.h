#pragma once

// Builds BMP files byte by byte for tests, with every header field open to
// change, so that both good variants and hostile files can be written.

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

std::vector<uint8_t> BuildBmp(const BmpSpec& spec);

// The path as the UTF-16 (Windows) or UTF-32 text the loader takes, whatever
// the process's locale.
std::wstring WidePath(const std::filesystem::path& path);

// A file in a fresh folder of its own, removed with the object.
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

private:
    std::filesystem::path m_path;
};
