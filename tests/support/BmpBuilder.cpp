#include "BmpBuilder.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace {

void Put16(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    out[at] = uint8_t(value);
    out[at + 1] = uint8_t(value >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(value >> (8 * i));
}

} // namespace

Rgb Gradient(int x, int y)
{
    return {uint8_t(x * 7 + y * 3), uint8_t(x * 13 + 5), uint8_t(y * 11 + 17)};
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
    Put32(out, 2, uint32_t(out.size()));
    Put32(out, 10, uint32_t(spec.offBits >= 0 ? spec.offBits : int64_t(pixelStart)));
    if (spec.infoSize >= 4)
        Put32(out, 14, spec.infoSize);
    if (spec.infoSize >= 40) {
        Put32(out, 18, uint32_t(spec.width));
        Put32(out, 22, uint32_t(spec.height));
        Put16(out, 26, 1);
        Put16(out, 28, spec.bitCount);
        Put32(out, 30, spec.compression);
        Put32(out, 34, uint32_t(spec.sizeImage >= 0 ? spec.sizeImage : stride * rows));
    }
    // Fill the gap and the rest of a long header with a pattern a loader
    // that starts reading at the wrong place would pick up.
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
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("tobrel-test-" + std::to_string(std::rand()) + "-" +
                                 std::to_string(s_counter++));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
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
