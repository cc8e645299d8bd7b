// PNG inputs of every kind, written here byte by byte (stored deflate
// blocks, so the expected pixels are plain), against BMPs of the same
// pixels; the alpha rule; the PNG difference image; hostile files.

#include "BmpBuilder.h"
#include "PngBuilder.h"
#include "ImageFile.h"
#include "PairCompare.h"
#include "PngCodec.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

// A 6-colour palette of Gradient's first pixels, and each pixel's index.
std::vector<uint8_t> Palette()
{
    std::vector<uint8_t> out;
    for (int i = 0; i < 6; ++i)
        out.insert(out.end(), {Gradient(i, 0).r, Gradient(i, 0).g, Gradient(i, 0).b});
    return out;
}

Rgb Paletted(int x, int y)
{
    return Gradient((x + y) % 6, 0);
}

uint8_t Grey(int x, int y)
{
    return uint8_t(17 * x + 40 * y);
}

using Positions = std::vector<std::pair<int, int>>;

struct Outcome
{
    int code;
    std::string trouble;
    int64_t count;
    Positions listed;
};

class PngFiles : public testing::Test
{
protected:
    // With `list` the pictures are decoded whole; without, PNG pairs that
    // allow it are decoded and counted band by band.
    Outcome Compare(const std::filesystem::path& a, const std::filesystem::path& b, unsigned tolerance = 1,
                    bool list = true)
    {
        PairOptions options;
        options.rule.tolerance = tolerance;
        options.bList = list;
        PairResult result;
        ComparePair(a.string(), b.string(), options, result);
        Outcome out{TroubleCode(result.trouble), result.message, result.summary.count, {}};
        for (int i = 0; i < result.list.Size(); ++i)
            out.listed.emplace_back(result.list[i].x, result.list[i].y);
        return out;
    }

    TempDir m_dir;
};

} // namespace

TEST_F(PngFiles, EveryColourTypeGivesTheSameAnswersAsABmpOfItsPixels)
{
    const auto rgb = [](Rgb c) { return std::vector<uint8_t>{c.r, c.g, c.b}; };
    const auto grey = [](int x, int y) { return Rgb{Grey(x, y), Grey(x, y), Grey(x, y)}; };
    struct Case { const char* name; PngSpec png; PixelFn pixel; };
    const Case cases[] = {
        {"truecolour", {5, 4, 2, 8, false, {}, {}, [&](int x, int y) { return rgb(Gradient(x, y)); }}, Gradient},
        {"truecolour, interlaced", {11, 9, 2, 8, true, {}, {}, [&](int x, int y) { return rgb(Gradient(x, y)); }}, Gradient},
        {"opaque truecolour with alpha", {5, 4, 6, 8, false, {}, {}, [&](int x, int y) {
             auto s = rgb(Gradient(x, y)); s.push_back(255); return s; }}, Gradient},
        {"greyscale", {7, 3, 0, 8, false, {}, {}, [](int x, int y) { return std::vector<uint8_t>{Grey(x, y)}; }}, grey},
        {"opaque greyscale with alpha", {7, 3, 4, 8, false, {}, {}, [](int x, int y) {
             return std::vector<uint8_t>{Grey(x, y), 255}; }}, grey},
        {"palette", {5, 4, 3, 8, false, Palette(), {}, [](int x, int y) { return std::vector<uint8_t>{uint8_t((x + y) % 6)}; }}, Paletted},
        {"4-bit palette, interlaced", {9, 5, 3, 4, true, Palette(), {}, [](int x, int y) {
             return std::vector<uint8_t>{uint8_t((x + y) % 6)}; }}, Paletted},
        {"palette, opaque tRNS", {5, 4, 3, 8, false, Palette(), {255, 255}, [](int x, int y) {
             return std::vector<uint8_t>{uint8_t((x + y) % 6)}; }}, Paletted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto png = m_dir.Write("p.png", BuildPng(c.png));
        const auto same = m_dir.WriteBmp("same.bmp", Picture(c.png.width, c.png.height, c.pixel));
        const Outcome equal = Compare(png, same);
        EXPECT_EQ(equal.code, 0) << equal.trouble;
        EXPECT_EQ(equal.count, 0);

        // One pixel changed in the BMP: the same single difference either way round.
        const auto other = m_dir.WriteBmp("other.bmp", Picture(c.png.width, c.png.height, [&](int x, int y) {
            Rgb p = c.pixel(x, y);
            if (x == 2 && y == 1)
                p.g = uint8_t(p.g + 9);
            return p;
        }));
        for (const Outcome& result : {Compare(png, other), Compare(other, png)}) {
            EXPECT_EQ(result.count, 1);
            EXPECT_EQ(result.listed, (Positions{{2, 1}}));
        }
        EXPECT_EQ(Compare(png, other, 10).count, 0);

        // Counted band by band against truecolour files, colours in the
        // files' order: the same pixels, and one changed.
        const int w = c.png.width, h = c.png.height;
        const auto truecolour = m_dir.Write("rgb.png", BuildPng({w, h, 2, 8, false, {}, {}, RgbSamples(c.pixel)}));
        const auto changed = m_dir.Write("changed.png", BuildPng({w, h, 2, 8, false, {}, {}, [&](int x, int y) {
            auto s = RgbSamples(c.pixel)(x, y);
            s[0] = uint8_t(s[0] + (x == 2 && y == 1 ? 9 : 0));
            return s;
        }}));
        EXPECT_EQ(Compare(png, truecolour, 1, false).count, 0);
        EXPECT_EQ(Compare(changed, png, 1, false).count, 1);
    }
}

// Alpha is a fourth channel once either image has it; an image without
// alpha is opaque.
TEST_F(PngFiles, ComparesAlphaAsAFourthChannel)
{
    // (5, 0) is the last pixel of its row, behind the scan's blocks of four.
    const auto rgba = [](uint8_t alphaAt21, uint8_t alphaAt50) {
        return [=](int x, int y) {
            const Rgb c = Gradient(x, y);
            return std::vector<uint8_t>{c.r, c.g, c.b, x == 2 && y == 1 ? alphaAt21 : x == 5 && y == 0 ? alphaAt50 : uint8_t(255)};
        };
    };
    const auto a = m_dir.Write("a.png", BuildPng({6, 3, 6, 8, false, {}, {}, rgba(200, 255)}));
    const auto b = m_dir.Write("b.png", BuildPng({6, 3, 6, 8, false, {}, {}, rgba(255, 250)}));
    const auto opaque = m_dir.WriteBmp("opaque.bmp", Picture(6, 3));
    // A colour key: every pixel of the key's colour is transparent.
    const Rgb key = Gradient(4, 2);
    const auto keyed = m_dir.Write("keyed.png", BuildPng({6, 3, 2, 8, false, {}, {0, key.r, 0, key.g, 0, key.b}, [](int x, int y) {
        const Rgb c = Gradient(x, y);
        return std::vector<uint8_t>{c.r, c.g, c.b};
    }}));
    const auto rgb = m_dir.Write("rgb.png", BuildPng({6, 3, 2, 8, false, {}, {}, RgbSamples(Gradient)}));
    struct Case { std::filesystem::path first, second; unsigned tolerance; Positions listed; };
    const Case cases[] = {
        {keyed, opaque, 1, {{4, 2}}},
        {keyed, rgb, 1, {{4, 2}}},
        {a, b, 1, {{5, 0}, {2, 1}}},
        {a, b, 6, {{2, 1}}},
        {a, opaque, 1, {{2, 1}}},
        {opaque, b, 5, {{5, 0}}},
        {rgb, b, 5, {{5, 0}}},
        {opaque, b, 6, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first.filename() << " " << c.second.filename() << " " << c.tolerance);
        const Outcome result = Compare(c.first, c.second, c.tolerance);
        ASSERT_EQ(result.code, 0) << result.trouble;
        EXPECT_EQ(result.listed, c.listed);
        EXPECT_EQ(result.count, int64_t(c.listed.size()));
        EXPECT_EQ(Compare(c.first, c.second, c.tolerance, false).count, int64_t(c.listed.size()));
    }
}

// Counted band by band, every row is compared once with the row of the
// same number: differences in the first and last rows of bands and of the
// picture, an interlaced file (decoded whole) beside one that is not, and
// a damaged pair whose files are the same bytes.
TEST_F(PngFiles, CountsBandByBandAsTheWholePicturesDo)
{
    const auto rgb = RgbSamples;
    const PixelFn marked = [](int x, int y) {
        Rgb c = Gradient(x, y);
        if ((x == 0 && y == 0) || (x == 6 && y == 15) || (x == 3 && y == 16) || (x == 5 && y == 39))
            c.r = uint8_t(c.r + 50);
        return c;
    };
    const auto plain = m_dir.Write("plain.png", BuildPng({7, 40, 2, 8, false, {}, {}, rgb(Gradient)}));
    const auto changed = m_dir.Write("changed.png", BuildPng({7, 40, 2, 8, false, {}, {}, rgb(marked)}));
    const auto interlaced = m_dir.Write("interlaced.png", BuildPng({7, 40, 2, 8, true, {}, {}, rgb(marked)}));
    for (const auto& other : {changed, interlaced}) {
        SCOPED_TRACE(other.filename());
        for (const bool list : {false, true}) {
            const Outcome result = Compare(plain, other, 1, list);
            ASSERT_EQ(result.code, 0) << result.trouble;
            EXPECT_EQ(result.count, 4) << list;
        }
        EXPECT_EQ(Compare(other, changed, 1, false).count, 0);
    }

    // Decoded once, a file the same as its twin still has every row checked.
    auto damaged = BuildPng({7, 40, 2, 8, false, {}, {}, rgb(Gradient)});
    damaged[damaged.size() - 17] ^= 1;  // the Adler-32
    const auto outside = BuildPng({7, 40, 3, 8, false, Palette(), {}, [](int x, int y) {
        return std::vector<uint8_t>{uint8_t(x == 3 && y == 30 ? 6 : 0)};
    }});
    for (const auto& bytes : {damaged, outside}) {
        const auto twin = m_dir.Write("twin.png", bytes);
        for (const bool list : {false, true})
            EXPECT_EQ(Compare(twin, twin, 1, list).code, int(Trouble::PngDamaged)) << list;
    }
    EXPECT_EQ(Compare(plain, plain, 1, false).count, 0);
}

TEST_F(PngFiles, WritesAPngDifferenceImageForANameEndingInPng)
{
    const auto a = m_dir.WriteBmp("a.bmp", Picture(5, 4));
    const auto b = m_dir.WriteBmp("b.bmp", Picture(5, 4, [](int x, int y) {
        Rgb c = Gradient(x, y);
        c.b = uint8_t(c.b + (x == 3 && y == 2 ? 50 : 0));
        return c;
    }));
    PairOptions options;
    options.diffImage = (m_dir.Path() / "diff.PNG").string();
    PairResult result;
    ComparePair(a.string(), b.string(), options, result);
    ASSERT_EQ(result.trouble, Trouble::None) << result.message;

    const auto decode = [](const std::string& path, CImage& image) {
        CImageFile file;
        return file.Open(path) == Trouble::None && file.Decode(3, image) == Trouble::None;
    };
    std::ifstream in(options.diffImage, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CImage image;
    ASSERT_TRUE(decode(options.diffImage, image));
    EXPECT_EQ(image.View().width, 5);
    const uint8_t* marked = image.View().Row(2) + 3 * 3;
    EXPECT_EQ((Rgb{marked[2], marked[1], marked[0]}), (Rgb{255, 0, 0}));
    const uint8_t* dimmed = image.View().Row(1) + 3 * 1;
    EXPECT_EQ(dimmed[2], Gradient(1, 1).r / 3 + 24);

    // PNG inputs, read in their own colour order, make the same picture.
    const auto changedPng = [](int x, int y) {
        Rgb c = Gradient(x, y);
        c.b = uint8_t(c.b + (x == 3 && y == 2 ? 50 : 0));
        return std::vector<uint8_t>{c.r, c.g, c.b};
    };
    const auto pa = m_dir.Write("a.png", BuildPng({5, 4, 2, 8, false, {}, {}, RgbSamples(Gradient)}));
    const auto pb = m_dir.Write("b.png", BuildPng({5, 4, 2, 8, false, {}, {}, changedPng}));
    PairOptions fromPng = options;
    fromPng.diffImage = (m_dir.Path() / "png-diff.png").string();
    ComparePair(pa.string(), pb.string(), fromPng, result);
    ASSERT_EQ(result.trouble, Trouble::None) << result.message;
    CImage fromPngImage;
    ASSERT_TRUE(decode(fromPng.diffImage, fromPngImage));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(std::memcmp(fromPngImage.View().Row(y), image.View().Row(y), 15), 0) << y;

    // An input found damaged only behind its last row (its image data's
    // checksum) leaves the last good image in place, for the rule and the
    // report alike.
    auto damaged = BuildPng({5, 4, 2, 8, false, {}, {}, RgbSamples(Gradient)});
    damaged[damaged.size() - 13] ^= 1;
    const auto bad = m_dir.Write("bad.png", damaged);
    const std::string last = std::string(bytes.begin(), bytes.end());
    for (const bool judged : {false, true}) {
        options.rule.threshold = judged ? 0.1 : -1;
        options.reportImages = judged ? (m_dir.Path() / "0.js").string() : "";
        ComparePair(a.string(), bad.string(), options, result);
        EXPECT_EQ(result.trouble, Trouble::PngDamaged) << judged;
        std::ifstream again(options.diffImage, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), last) << judged;
        EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "0.js"));
    }
}

TEST_F(PngFiles, RefusesSixteenBitAndHostileFilesWithAReason)
{
    const PngSpec good{8, 8, 2, 8, false, {}, {}, [](int x, int y) { return std::vector<uint8_t>{uint8_t(x), uint8_t(y), 7}; }};
    const std::vector<uint8_t> png = BuildPng(good);
    const auto changed = [&](size_t at, uint8_t value) {
        auto out = png;
        out[at] ^= value;
        return out;
    };
    const size_t idat = size_t(std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1) - png.begin());
    PngSpec sixteen = good;
    sixteen.bitDepth = 16;
    sixteen.samples = [](int, int) { return std::vector<uint8_t>(6, 1); };
    PngSpec outside = good;
    outside.colourType = 3;
    outside.palette = Palette();
    outside.samples = [](int x, int) { return std::vector<uint8_t>{uint8_t(x == 7 ? 6 : 0)}; };
    // A header that claims another size, its checksum made right.
    const auto claiming = [&](uint32_t width, uint32_t height) {
        std::vector<uint8_t> out(png.begin(), png.begin() + 16), ihdr;
        PutBig32(ihdr, width);
        PutBig32(ihdr, height);
        out.insert(out.end(), ihdr.begin(), ihdr.end());
        out.insert(out.end(), png.begin() + 24, png.begin() + 29);
        PutBig32(out, PngCrc(out.data() + 12, 17));
        out.insert(out.end(), png.begin() + 33, png.end());
        return out;
    };

    // The image data stream rebuilt into other chunks, and text chunks.
    const size_t idatLength = size_t(png[idat - 4]) << 24 | size_t(png[idat - 3]) << 16 | size_t(png[idat - 2]) << 8 | png[idat - 1];
    const std::vector<uint8_t> zlib(png.begin() + long(idat) + 4, png.begin() + long(idat + 4 + idatLength));
    const auto withIdat = [&](const std::vector<uint8_t>& stream, std::vector<std::pair<size_t, size_t>> parts, bool flipLast) {
        std::vector<uint8_t> out(png.begin(), png.begin() + long(idat) - 4);
        for (size_t k = 0; k < parts.size(); ++k) {
            std::vector<uint8_t> part(stream.begin() + long(parts[k].first), stream.begin() + long(parts[k].first + parts[k].second));
            if (flipLast && k + 1 == parts.size())
                part.back() ^= 1;
            PutChunk(out, "IDAT", part);
        }
        PutChunk(out, "IEND", {});
        return out;
    };
    // The rows' last stored block not marked final, then a block of the reserved type.
    std::vector<uint8_t> damagedTail(zlib.begin(), zlib.end() - 4);
    damagedTail[2] = 0;
    damagedTail.insert(damagedTail.end(), {0x07, 0, 0, 0, 0});
    std::vector<uint8_t> zlibAndMore = zlib, zlibTwice = zlib;
    zlibAndMore.insert(zlibAndMore.end(), {1, 2, 3});
    zlibTwice.insert(zlibTwice.end(), zlib.begin(), zlib.end());
    std::vector<uint8_t> splitByChunk(png.begin(), png.begin() + long(idat) - 4);
    PutChunk(splitByChunk, "IDAT", {zlib.begin(), zlib.begin() + 10});
    PutChunk(splitByChunk, "ABCD", {});
    PutChunk(splitByChunk, "IDAT", {zlib.begin() + 10, zlib.end()});
    PutChunk(splitByChunk, "IEND", {});
    std::vector<uint8_t> unknownCritical(png.begin(), png.begin() + long(idat) - 4);
    PutChunk(unknownCritical, "ABCD", {});
    unknownCritical.insert(unknownCritical.end(), png.begin() + long(idat) - 4, png.end());
    std::vector<uint8_t> paletteAfter(png.begin(), png.end() - 12);
    PutChunk(paletteAfter, "PLTE", {1, 2, 3});
    PutChunk(paletteAfter, "IEND", {});
    std::vector<uint8_t> textChunk;
    PutChunk(textChunk, "tEXt", {'k', 0, 'v'});
    const auto withTail = [&](const std::vector<uint8_t>& tail) {
        auto out = png;
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    const auto withText = [&](int chunks, size_t bytes, bool badChecksum) {
        std::vector<uint8_t> out(png.begin(), png.begin() + long(idat) - 4), text = {'k', 0};
        text.resize(bytes, 'v');
        for (int k = 0; k < chunks; ++k)
            PutChunk(out, "tEXt", text);
        if (badChecksum)
            out.back() ^= 1;
        out.insert(out.end(), png.begin() + long(idat) - 4, png.end());
        return out;
    };

    struct Case { const char* name; std::vector<uint8_t> bytes; int expected; };
    const Case cases[] = {
        {"5,000 text chunks", withText(5000, 20, false), 0},
        {"a text chunk of 66 MB", withText(1, 66 << 20, false), 0},
        {"exactly 65,535 pixels wide", BuildPng({65535, 1, 0, 8, false, {}, {}, [](int, int) { return std::vector<uint8_t>{0}; }}), 0},
        {"16-bit samples", BuildPng(sixteen), int(Trouble::Png16Bit)},
        {"palette index past the end", BuildPng(outside), int(Trouble::PngDamaged)},
        {"70,000 pixels wide", claiming(70000, 1), IDS_IMAGE_TOO_LARGE},
        {"a row fewer than the header says", claiming(8, 9), int(Trouble::PngDamaged)},
        {"cut short", {png.begin(), png.begin() + long(idat) + 20}, IDS_CANNOT_READ},
        {"bad header checksum", changed(29, 1), int(Trouble::PngDamaged)},
        {"bad checksum of the last image data", changed(png.size() - 13, 1), int(Trouble::PngDamaged)},
        {"bad zlib checksum", changed(png.size() - 17, 1), int(Trouble::PngDamaged)},
        {"bad zlib checksum in a chunk of its own", withIdat(zlib, {{0, zlib.size() - 4}, {zlib.size() - 4, 4}}, true), int(Trouble::PngDamaged)},
        {"damage behind the rows", withIdat(damagedTail, {{0, damagedTail.size()}}, false), int(Trouble::PngDamaged)},
        {"no image data at all", withIdat(zlib, {}, false), int(Trouble::PngDamaged)},
        {"data behind the stream's end", withIdat(zlibAndMore, {{0, zlibAndMore.size()}}, false), int(Trouble::PngDamaged)},
        {"image data after the stream's end", withIdat(zlibTwice, {{0, zlib.size()}, {zlib.size(), zlib.size()}}, false), int(Trouble::PngDamaged)},
        {"image data split by another chunk", splitByChunk, int(Trouble::PngDamaged)},
        {"a critical chunk the decoder does not know", unknownCritical, int(Trouble::PngDamaged)},
        {"a palette after the image data", paletteAfter, int(Trouble::PngDamaged)},
        {"end chunk cut short", {png.begin(), png.end() - 2}, IDS_CANNOT_READ},
        {"a chunk after the end", withTail(textChunk), int(Trouble::PngDamaged)},
        {"bad checksum of a text chunk", withText(1, 10, true), int(Trouble::PngDamaged)},
        {"bad signature", changed(1, 1), IDS_NOT_BITMAP},
    };
    // Compared with itself, a file is decoded, or checked, once.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = m_dir.Write("bad.png", c.bytes);
        for (const bool list : {false, true}) {
            const Outcome result = Compare(file, file, 1, list);
            EXPECT_EQ(result.code, c.expected) << result.trouble << " " << list;
            EXPECT_EQ(result.trouble.find("bad.png") != std::string::npos, c.expected != 0) << result.trouble;
        }
    }
    // Damage in the first of several bands of a large picture, against a
    // sound one, on either side: its own trouble, found where it is.
    PngSpec large{1024, 512, 2, 8, false, {}, {}, RgbSamples(Gradient)};
    const auto sound = m_dir.Write("sound.png", BuildPng(large));
    large.unknownFilterRow = 3;
    const auto damaged = m_dir.Write("damaged.png", BuildPng(large));
    for (const bool list : {false, true}) {
        for (const bool first : {true, false}) {
            const Outcome result = first ? Compare(damaged, sound, 1, list) : Compare(sound, damaged, 1, list);
            EXPECT_EQ(result.code, int(Trouble::PngDamaged)) << result.trouble << " " << list;
            EXPECT_NE(result.trouble.find("damaged.png"), std::string::npos) << result.trouble;
        }
    }
}

// A file is taken for its twin, and decoded once, only when its image data
// is the same bytes, and the one decoded must be sound.
TEST_F(PngFiles, DecodesTwinsOnceAndStillFindsTheirDamage)
{
    const PngSpec good{8, 40, 2, 8, false, {}, {}, RgbSamples(Gradient)};
    const auto goodBytes = BuildPng(good);
    PngSpec filtered = good;
    filtered.unknownFilterRow = 39;
    PngSpec shortPalette = good;
    shortPalette.colourType = 3;
    shortPalette.palette = Palette();
    shortPalette.samples = [](int x, int y) { return std::vector<uint8_t>{uint8_t(x == 7 && y == 39 ? 6 : 0)}; };
    const auto badCrc = [](std::vector<uint8_t> bytes) {
        bytes[bytes.size() - 13] ^= 1;  // the image data chunk's checksum
        return bytes;
    };
    // Other pixels under the checksums of `goodBytes`: alike by checksums,
    // not by bytes, and damaged.
    auto forged = BuildPng({8, 40, 2, 8, false, {}, {}, RgbSamples([](int x, int y) {
        Rgb c = Gradient(x, y);
        c.g = uint8_t(c.g + (y == 20 ? 1 : 0));
        return c;
    })});
    std::copy(goodBytes.end() - 16, goodBytes.end() - 12, forged.end() - 16);

    // Large enough that decoding would not have read the second chunk
    // before the rows are checked.
    const auto large = SplitImageData(BuildPng({300, 400, 2, 8, false, {}, {}, RgbSamples(Gradient)}), 300000);

    // Paeth rows, as most encoders write them, and another palette over the
    // same image data.
    PngSpec paeth = good;
    paeth.filter = 4;
    PngSpec indexed = shortPalette;
    indexed.samples = [](int x, int y) { return std::vector<uint8_t>{uint8_t((x + y) % 6)}; };
    PngSpec interlaced = good;
    interlaced.interlaced = true;
    PngSpec recoloured = indexed;
    recoloured.palette[0] ^= 0x40;  // index 0 another red

    struct Case { const char* name; std::vector<uint8_t> first, second; int expected; int troubled; int count = 0; };
    const Case cases[] = {
        {"sound twins", goodBytes, goodBytes, 0, 0},
        {"Paeth-filtered twins", BuildPng(paeth), BuildPng(paeth), 0, 0},
        {"Paeth rows against plain ones", BuildPng(paeth), goodBytes, 0, 0},
        {"the same image data under another palette", BuildPng(indexed), BuildPng(recoloured), 0, 0, 53},
        {"sound twins of two image data chunks", large, large, 0, 0},
        {"interlaced twins", BuildPng(interlaced), BuildPng(interlaced), 0, 0},
        {"a bad checksum of the second image data chunk", badCrc(large), badCrc(large), int(Trouble::PngDamaged), 1},
        {"a row of an unknown filter type", BuildPng(filtered), BuildPng(filtered), int(Trouble::PngDamaged), 1},
        {"a bad image data checksum", badCrc(goodBytes), badCrc(goodBytes), int(Trouble::PngDamaged), 1},
        {"a palette index past the end", BuildPng(shortPalette), BuildPng(shortPalette), int(Trouble::PngDamaged), 1},
        {"other bytes under the same checksums", goodBytes, forged, int(Trouble::PngDamaged), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = m_dir.Write("first.png", c.first);
        const auto second = m_dir.Write("second.png", c.second);
        for (const bool list : {false, true}) {
            const Outcome result = Compare(first, second, 1, list);
            EXPECT_EQ(result.code, c.expected) << result.trouble << " " << list;
            EXPECT_EQ(result.count, c.count);
            const char* named = c.troubled == 1 ? "first.png" : c.troubled == 2 ? "second.png" : nullptr;
            EXPECT_EQ(named ? result.trouble.find(named) != std::string::npos : result.trouble.empty(), true)
                << result.trouble;
        }
    }
}
