#include "PngBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>

uint32_t PngCrc(const uint8_t* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = crc >> 1 ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    PutBig32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, PngCrc(out.data() + start, out.size() - start));
}

std::function<std::vector<uint8_t>(int x, int y)> RgbSamples(const PixelFn& pixel)
{
    return [=](int x, int y) {
        const Rgb c = pixel(x, y);
        return std::vector<uint8_t>{c.r, c.g, c.b};
    };
}

namespace {

// A row of bytes filtered by PNG's `filter` against the row above, `bpp`
// bytes a pixel, straight from the definitions.
std::vector<uint8_t> Filtered(const std::vector<uint8_t>& row, const std::vector<uint8_t>& above, int filter, size_t bpp)
{
    std::vector<uint8_t> out(row.size());
    for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = above.empty() ? 0 : above[i];
        const int c = i >= bpp && !above.empty() ? above[i - bpp] : 0;
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        const int predicted[5] = {0, a, b, (a + b) / 2, paeth};
        out[i] = uint8_t(row[i] - predicted[filter]);
    }
    return out;
}

} // namespace

std::vector<uint8_t> RawRows(const PngSpec& spec)
{
    static const int c_pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<uint8_t> raw;
    int rowNumber = 0;
    for (int p = 0; p < (spec.interlaced ? 7 : 1); ++p) {
        const int* pass = spec.interlaced ? c_pass[p] : nullptr;
        std::vector<uint8_t> above;  // each pass starts afresh
        for (int y = pass ? pass[1] : 0; y < spec.height; y += pass ? pass[3] : 1) {
            std::vector<uint8_t> samples;
            int pixels = 0;
            for (int x = pass ? pass[0] : 0; x < spec.width; x += pass ? pass[2] : 1, ++pixels)
                for (uint8_t s : spec.samples(x, y))
                    samples.push_back(s);
            if (samples.empty())
                continue;
            // Samples packed into bytes, the first in the high bits.
            std::vector<uint8_t> bytes;
            if (spec.bitDepth >= 8) {
                bytes = samples;
            } else {
                const size_t perByte = size_t(8 / spec.bitDepth);
                for (size_t i = 0; i < samples.size(); i += perByte) {
                    uint8_t byte = 0;
                    for (size_t k = 0; k < perByte; ++k)
                        byte |= uint8_t((i + k < samples.size() ? samples[i + k] : 0) << (8 - spec.bitDepth * (k + 1)));
                    bytes.push_back(byte);
                }
            }
            const size_t bpp = std::max<size_t>(1, samples.size() * spec.bitDepth / 8 / size_t(pixels));
            const int filter = spec.filter == 5 ? rowNumber % 5 : spec.filter;
            raw.push_back(y == spec.unknownFilterRow ? 5 : uint8_t(filter));
            const std::vector<uint8_t> row = filter ? Filtered(bytes, above, filter, bpp) : bytes;
            raw.insert(raw.end(), row.begin(), row.end());
            above = bytes;
            ++rowNumber;
        }
    }
    return raw;
}

std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& raw)
{
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t i = 0; i < raw.size() || i == 0; i += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - i);
        z.push_back(i + n >= raw.size() ? 1 : 0);
        z.insert(z.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + long(i), raw.begin() + long(i + n));
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw)
        a = (a + byte) % 65521, b = (b + a) % 65521;
    PutBig32(z, b << 16 | a);
    return z;
}

std::vector<uint8_t> BuildPng(const PngSpec& spec, const std::vector<uint8_t>& stream, size_t chunk)
{
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr;
    PutBig32(ihdr, uint32_t(spec.width));
    PutBig32(ihdr, uint32_t(spec.height));
    ihdr.insert(ihdr.end(), {spec.bitDepth, spec.colourType, 0, 0, uint8_t(spec.interlaced)});
    PutChunk(png, "IHDR", ihdr);
    if (!spec.palette.empty())
        PutChunk(png, "PLTE", spec.palette);
    if (!spec.trns.empty())
        PutChunk(png, "tRNS", spec.trns);
    const size_t step = chunk ? chunk : std::max<size_t>(stream.size(), 1);
    for (size_t at = 0; at < stream.size() || at == 0; at += step)
        PutChunk(png, "IDAT", {stream.begin() + long(at), stream.begin() + long(std::min(stream.size(), at + step))});
    PutChunk(png, "IEND", {});
    return png;
}

std::vector<uint8_t> BuildPng(const PngSpec& spec)
{
    const std::vector<uint8_t> raw = RawRows(spec);
    if (!spec.compressed)
        return BuildPng(spec, StoredStream(raw));
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(size);
    compress2(z.data(), &size, raw.data(), uLong(raw.size()), 6);
    z.resize(size);
    return BuildPng(spec, z);
}

std::vector<uint8_t> SplitImageData(const std::vector<uint8_t>& png, size_t at)
{
    const size_t idat = size_t(std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1) - png.begin());
    const size_t length = size_t(png[idat - 4]) << 24 | size_t(png[idat - 3]) << 16 | size_t(png[idat - 2]) << 8 | png[idat - 1];
    std::vector<uint8_t> out(png.begin(), png.begin() + long(idat) - 4);
    PutChunk(out, "IDAT", {png.begin() + long(idat) + 4, png.begin() + long(idat + 4 + at)});
    PutChunk(out, "IDAT", {png.begin() + long(idat + 4 + at), png.begin() + long(idat + 4 + length)});
    out.insert(out.end(), png.begin() + long(idat + 8 + length), png.end());
    return out;
}
