// JPEG, WebP, TIFF and GIF files through the whole comparison: mixed pairs,
// and hostile files made from ImageMagick's (cut short, with sizes that lie,
// with broken structure), each refused with its format's reason, never a
// crash, a count or an allocation its data cannot justify.

#include "BmpBuilder.h"
#include "ImageFile.h"
#include "PairCompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::filesystem::path c_folder = "format-files";

using Bytes = std::vector<uint8_t>;

uint16_t Little16(const Bytes& b, size_t at)
{
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}

void PutLittle16(Bytes& b, size_t at, unsigned value)
{
    b.at(at) = uint8_t(value), b.at(at + 1) = uint8_t(value >> 8);
}

// Where `pattern` first stands in `b` from `from`.
size_t Find(const Bytes& b, const Bytes& pattern, size_t from = 0)
{
    const auto at = std::search(b.begin() + std::ptrdiff_t(from), b.end(), pattern.begin(), pattern.end());
    if (at == b.end())
        throw std::runtime_error("pattern not in file");
    return size_t(at - b.begin());
}

// A JPEG's frame header (start of frame, baseline or progressive): height at
// +5, width at +7, big-endian.
size_t JpegFrame(const Bytes& b)
{
    for (size_t at = 2; at + 9 < b.size(); ++at) {
        if (b[at] == 0xFF && (b[at + 1] == 0xC0 || b[at + 1] == 0xC2))
            return at;
    }
    throw std::runtime_error("no frame header");
}

// The value field of a classic little-endian TIFF's first-page tag.
size_t TiffTag(const Bytes& b, unsigned tag)
{
    const size_t ifd = size_t(Little16(b, 4)) | size_t(Little16(b, 6)) << 16;
    for (unsigned i = 0, n = Little16(b, ifd); i < n; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (Little16(b, entry) == tag)
            return entry + 8;
    }
    throw std::runtime_error("no such tag");
}

// A GIF's first image descriptor, past the colour table and extensions.
size_t GifImage(const Bytes& b)
{
    size_t at = 13 + (b.at(10) & 0x80 ? 3u << ((b[10] & 7) + 1) : 0);
    while (b.at(at) == 0x21) {
        at += 2;
        while (b.at(at) != 0)
            at += 1 + b[at];
        ++at;
    }
    if (b.at(at) != 0x2C)
        throw std::runtime_error("no image descriptor");
    return at;
}

// Whether this system cannot decode the format of `name` at all (WebP on
// Windows without its codec).
bool Undecodable(const std::string& name)
{
    CImageFile file;
    return file.Open((c_folder / name).string()) == Trouble::FormatUnavailable;
}

Trouble DamagedOf(const std::string& name)
{
    switch (name[0]) {
    case 'j': return Trouble::JpegDamaged;
    case 'w': return Trouble::WebpDamaged;
    case 't': return Trouble::TiffDamaged;
    default: return Trouble::GifDamaged;
    }
}

struct Outcome
{
    Trouble trouble;
    std::string message;
    int64_t count;
};

Outcome Compare(const std::filesystem::path& a, const std::filesystem::path& b)
{
    PairOptions options;
    options.bRegions = true;
    PairResult result;
    ComparePair(a.string(), b.string(), options, result);
    return {result.trouble, result.message, result.summary.count};
}

} // namespace

TEST(FormatFiles, MixedPairsCompareByPixelsWhateverTheFormats)
{
    // Lossless files of one picture are equal whatever holds them; a lossy
    // one differs from them.
    const char* same[] = {"webp-lossless.webp", "tiff-none.tif", "tiff-lzw.tif", "tiff-tiles.tif"};
    for (const char* other : same) {
        if (Undecodable(other))
            continue;
        const Outcome result = Compare(c_folder / "tiff-deflate.tif", c_folder / other);
        EXPECT_EQ(result.trouble, Trouble::None) << other;
        EXPECT_EQ(result.count, 0) << other;
    }
    TempDir dir;
    const std::filesystem::path bmp = dir.WriteBmp("photo.bmp", Picture(61, 37));
    const Outcome mixed = Compare(c_folder / "jpeg-q90-444.jpg", bmp);
    EXPECT_EQ(mixed.trouble, Trouble::None);
    EXPECT_GT(mixed.count, 0);
    const Outcome lossy = Compare(c_folder / "tiff-none.tif", c_folder / "jpeg-q50-420.jpg");
    EXPECT_EQ(lossy.trouble, Trouble::None);
    EXPECT_GT(lossy.count, 0);
}

TEST(FormatFiles, FilesCutShortAreRefusedAsDamagedWhereverTheyEnd)
{
    const char* files[] = {"jpeg-q90-444.jpg", "jpeg-progressive.jpg", "webp-lossy.webp", "webp-lossless.webp",
                           "webp-alpha-lossy.webp", "tiff-none.tif", "tiff-lzw.tif", "tiff-tiles.tif",
                           "gif-plain.gif", "gif-interlaced.gif"};
    TempDir dir;
    for (const char* name : files) {
        if (Undecodable(name))
            continue;
        const Bytes whole = ReadBytes(c_folder / name);
        ASSERT_GT(whole.size(), 64u) << name;
        // Past the first bytes, which tell the format.
        std::vector<size_t> ends{16, 40};
        for (size_t k = 1; k < 8; ++k)
            ends.push_back(whole.size() * k / 8);
        for (size_t end : ends) {
            const auto cut = dir.Write("cut", Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(end)));
            const Outcome result = Compare(c_folder / name, cut);
            EXPECT_EQ(result.trouble, DamagedOf(name)) << name << " cut at " << end << " of " << whole.size();
        }
    }
}

TEST(FormatFiles, HostileHeadersAndBrokenStructureAreRefusedWithAReason)
{
    struct Case
    {
        const char* name;
        const char* file;
        std::function<void(Bytes&)> harm;
        Trouble trouble;
        // On Windows the system decodes whole: the size may be found too
        // large for it, or for the memory at hand, before the damage.
        bool tooLargeOnWindows = false;
        // Refused from the header, before anything is allocated for it.
        bool refusedAtOpen = false;
    };
    const auto put16 = [](Bytes& b, size_t at, unsigned v) { b.at(at) = uint8_t(v >> 8), b.at(at + 1) = uint8_t(v); };
    const Case cases[] = {
        {"baseline JPEG claiming 65500 x 65500", "jpeg-q90-444.jpg",
         [&](Bytes& b) { put16(b, JpegFrame(b) + 5, 65500), put16(b, JpegFrame(b) + 7, 65500); }, Trouble::JpegDamaged},
        {"progressive JPEG claiming more blocks than it has bits", "jpeg-progressive.jpg",
         [&](Bytes& b) { put16(b, JpegFrame(b) + 5, 60000), put16(b, JpegFrame(b) + 7, 60000); }, Trouble::JpegDamaged,
         false, true},
        {"JPEG of width 0", "jpeg-q90-444.jpg", [&](Bytes& b) { put16(b, JpegFrame(b) + 7, 0); }, Trouble::JpegDamaged},
        {"JPEG without its scan", "jpeg-q90-444.jpg",
         [&](Bytes& b) { b.at(Find(b, {0xFF, 0xDA}) + 1) = 0xFE; }, Trouble::JpegDamaged},
        {"JPEG whose Huffman table is cut", "jpeg-q90-444.jpg",
         [&](Bytes& b) { put16(b, Find(b, {0xFF, 0xC4}) + 2, 3); }, Trouble::JpegDamaged},
        {"lossy WebP claiming 16383 x 16383", "webp-lossy.webp",
         [&](Bytes& b) { PutLittle16(b, Find(b, {0x9d, 0x01, 0x2a}) + 3, 16383), PutLittle16(b, Find(b, {0x9d, 0x01, 0x2a}) + 5, 16383); },
         Trouble::WebpDamaged},
        {"WebP whose image chunk is renamed", "webp-lossless.webp",
         [&](Bytes& b) { b.at(Find(b, {'V', 'P', '8', 'L'}) + 3) = 'x'; }, Trouble::WebpDamaged},
        {"TIFF claiming 60000 x 60000", "tiff-lzw.tif",
         [&](Bytes& b) { PutLittle16(b, TiffTag(b, 256), 60000), PutLittle16(b, TiffTag(b, 257), 60000); },
         Trouble::TiffDamaged, true},
        {"TIFF wider than 65535", "tiff-none.tif",
         [&](Bytes& b) {
             const size_t at = TiffTag(b, 256);
             PutLittle16(b, at - 6, 4);  // a long
             PutLittle16(b, at, 70000 & 0xFFFF), PutLittle16(b, at + 2, 70000 >> 16);
         },
         Trouble::ImageTooLarge},
        {"TIFF whose strips lie past its end", "tiff-none.tif",
         [&](Bytes& b) { b.at(TiffTag(b, 273) + 3) = 0x7F; }, Trouble::TiffDamaged},
        {"TIFF whose first page lies past its end", "tiff-lzw.tif", [&](Bytes& b) { b.at(7) = 0x7F; },
         Trouble::TiffDamaged},
        {"TIFF with huge tiles", "tiff-tiles.tif",
         [&](Bytes& b) { PutLittle16(b, TiffTag(b, 322), 0xFFF0), PutLittle16(b, TiffTag(b, 323), 0xFFF0); },
         Trouble::TiffDamaged, true, true},
        {"GIF picture claiming 65535 x 65535", "gif-interlaced.gif",
         [&](Bytes& b) { PutLittle16(b, GifImage(b) + 5, 65535), PutLittle16(b, GifImage(b) + 7, 65535); },
         Trouble::GifDamaged},
        {"GIF with an impossible code size", "gif-plain.gif", [&](Bytes& b) { b.at(GifImage(b) + 10) = 12; },
         Trouble::GifDamaged},
        {"GIF without a picture", "gif-plain.gif", [&](Bytes& b) { b.resize(GifImage(b)), b.push_back(0x3B); },
         Trouble::GifDamaged},
    };
    TempDir dir;
    for (const Case& c : cases) {
        if (Undecodable(c.file))
            continue;
        Bytes bytes = ReadBytes(c_folder / c.file);
        c.harm(bytes);
        // Against a copy of itself, so that no size tells them apart.
        const auto hostile = dir.Write("hostile", bytes);
        const Outcome result = Compare(hostile, dir.Write("copy", bytes));
#ifndef _WIN32
        if (c.refusedAtOpen) {
            CImageFile file;
            EXPECT_EQ(file.Open(hostile.string()), c.trouble) << c.name;
        }
#endif
#ifdef _WIN32
        if (c.tooLargeOnWindows && (result.trouble == Trouble::ImageTooLarge || result.trouble == Trouble::OutOfMemory))
            continue;
#endif
        EXPECT_EQ(result.trouble, c.trouble) << c.name << ": " << result.message;
        EXPECT_NE(result.message.find("hostile"), std::string::npos) << c.name << ": " << result.message;
    }
}
