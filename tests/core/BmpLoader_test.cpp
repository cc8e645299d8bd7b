#include "BmpBuilder.h"
#include "BmpFormat.h"
#include "BmpLoader.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

// Frees the record however the test ends.
struct LoadedImage : ImageBuffer
{
    ~LoadedImage() { FreeImageBuffer(*this); }
};

int Load(ImageBuffer& image, const std::filesystem::path& path)
{
    return LoadBmpFile(image, WidePath(path).c_str());
}

Rgb PixelAt(const ImageBuffer& image, int x, int y)
{
    const unsigned char* p = image.pixels + PixelOffset(image, x, y);
    return {p[2], p[1], p[0]};
}

void ExpectPicture(const ImageBuffer& image, int width, int height, const PixelFn& pixel)
{
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.stride, (width * 3 + 3) / 4 * 4);
    ASSERT_NE(image.pixels, nullptr);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(PixelAt(image, x, y), pixel(x, y)) << "at (" << x << ", " << y << ")";
    }
}

} // namespace

TEST(BmpLoader, KeepsRowsBottomUpAsStored)
{
    TempDir dir;
    BmpSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.pixel = [](int x, int y) { return Rgb{uint8_t(10 * x + 100 * y), 1, 2}; };
    LoadedImage image;
    ASSERT_EQ(Load(image, dir.WriteBmp("a.bmp", spec)), 0);
    EXPECT_EQ(image.stride, 8);
    // Top-left pixel lies in the second stored row, bottom-left in the first.
    EXPECT_EQ(image.pixels[8], 2);
    EXPECT_EQ(image.pixels[9], 1);
    EXPECT_EQ(image.pixels[10], 0);
    EXPECT_EQ(image.pixels[2], 100);
    EXPECT_EQ(image.pixels[5], 110);
}

TEST(BmpLoader, RoundsStrideUpToFourBytes)
{
    struct Case { int width, height, stride; };
    for (const Case c : {Case{3, 2, 12}, Case{4, 1, 12}, Case{1, 1, 4}, Case{5, 3, 16}, Case{8, 1, 24}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        TempDir dir;
        BmpSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        LoadedImage image;
        ASSERT_EQ(Load(image, dir.WriteBmp("s.bmp", spec)), 0);
        EXPECT_EQ(image.stride, c.stride);
        ExpectPicture(image, c.width, c.height, Gradient);
    }
}

// Files that real programs write: each must load with its real pixels.
TEST(BmpLoader, ReadsPixelsWhereTheFileSaysTheyStart)
{
    struct Case { const char* name; uint32_t infoSize; uint32_t gap; int32_t height; int64_t sizeImage; };
    const Case cases[] = {
        {"classic 40-byte header", 40, 0, 3, -1},
        {"108-byte header", 108, 0, 3, -1},
        {"124-byte header", 124, 0, 3, -1},
        {"colour table gap", 40, 36, 3, -1},
        {"124-byte header with gap", 124, 4, 3, -1},
        {"top-down rows", 40, 0, -3, -1},
        {"top-down with 124-byte header", 124, 0, -3, -1},
        {"biSizeImage 0", 40, 0, 3, 0},
        {"biSizeImage too small", 40, 0, 3, 5},
        {"biSizeImage too large", 40, 0, 3, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        BmpSpec spec;
        spec.width = 7;
        spec.height = c.height;
        spec.infoSize = c.infoSize;
        spec.gapBytes = c.gap;
        spec.sizeImage = c.sizeImage;
        LoadedImage image;
        ASSERT_EQ(Load(image, dir.WriteBmp("v.bmp", spec)), 0);
        ExpectPicture(image, 7, 3, Gradient);
    }
}

TEST(BmpLoader, RejectsBadFilesWithTheirOwnCode)
{
    struct Case { const char* name; std::function<void(BmpSpec&)> change; int expected; };
    const Case cases[] = {
        {"signature MB", [](BmpSpec& s) { s.signature[0] = 'M'; s.signature[1] = 'B'; }, IDS_NOT_BITMAP},
        {"8-bit", [](BmpSpec& s) { s.bitCount = 8; }, IDS_UNSUPPORTED_FORMAT},
        {"32-bit", [](BmpSpec& s) { s.bitCount = 32; }, IDS_UNSUPPORTED_FORMAT},
        {"bit fields", [](BmpSpec& s) { s.compression = 3; }, IDS_UNSUPPORTED_FORMAT},
        {"RLE", [](BmpSpec& s) { s.compression = 1; }, IDS_UNSUPPORTED_FORMAT},
        {"12-byte core header", [](BmpSpec& s) { s.infoSize = 12; s.gapBytes = 28; }, IDS_UNSUPPORTED_FORMAT},
        {"width 0", [](BmpSpec& s) { s.width = 0; }, IDS_NOT_BITMAP},
        {"height 0", [](BmpSpec& s) { s.height = 0; }, IDS_NOT_BITMAP},
        {"negative width", [](BmpSpec& s) { s.width = -4; }, IDS_NOT_BITMAP},
        {"rows start inside the headers", [](BmpSpec& s) { s.offBits = 40; }, IDS_NOT_BITMAP},
        {"rows start inside a long header", [](BmpSpec& s) { s.infoSize = 124; s.offBits = 54; }, IDS_NOT_BITMAP},
        {"rows start past the end", [](BmpSpec& s) { s.offBits = 1 << 20; }, IDS_NOT_BITMAP},
        {"width 65536", [](BmpSpec& s) { s.width = 65536; s.height = 1; s.pixel = [](int, int) { return Rgb{}; }; }, IDS_IMAGE_TOO_LARGE},
        {"height -65536", [](BmpSpec& s) { s.height = -65536; s.width = 1; s.pixel = [](int, int) { return Rgb{}; }; }, IDS_IMAGE_TOO_LARGE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        BmpSpec spec;
        spec.width = 4;
        spec.height = 2;
        c.change(spec);
        LoadedImage image;
        EXPECT_EQ(Load(image, dir.WriteBmp("bad.bmp", spec)), c.expected);
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.height, 0);
        EXPECT_EQ(image.stride, 0);
    }
}

TEST(BmpLoader, RejectsShortAndHostileHeaders)
{
    BmpSpec spec;
    spec.width = 4;
    spec.height = 4;
    const std::vector<uint8_t> good = BuildBmp(spec);

    auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        auto out = good;
        std::copy(bytes.begin(), bytes.end(), out.begin() + long(at));
        return out;
    };
    struct Case { const char* name; std::vector<uint8_t> bytes; int expected; };
    const Case cases[] = {
        {"empty file", {}, IDS_NOT_BITMAP},
        {"13 bytes", {good.begin(), good.begin() + 13}, IDS_NOT_BITMAP},
        {"53 bytes with signature", {good.begin(), good.begin() + 53}, IDS_NOT_BITMAP},
        {"rows end early", {good.begin(), good.end() - 1}, IDS_CANNOT_READ},
        {"headers only", {good.begin(), good.begin() + 54}, IDS_CANNOT_READ},
        // 60000 x 60000 claimed in a 102-byte file: refused before any allocation.
        {"gigabytes claimed", patched(18, {0x60, 0xEA, 0, 0, 0x60, 0xEA, 0, 0}), IDS_CANNOT_READ},
        {"height INT_MIN", patched(22, {0, 0, 0, 0x80}), IDS_IMAGE_TOO_LARGE},
        {"offset near 4 GiB", patched(10, {0xF0, 0xFF, 0xFF, 0xFF}), IDS_NOT_BITMAP},
        {"info size near 4 GiB", patched(14, {0xFF, 0xFF, 0xFF, 0xFF}), IDS_NOT_BITMAP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        LoadedImage image;
        EXPECT_EQ(Load(image, dir.Write("h.bmp", c.bytes)), c.expected);
        EXPECT_EQ(image.pixels, nullptr);
        EXPECT_EQ(image.width, 0);
    }
}

TEST(BmpLoader, ReportsFilesThatCannotBeRead)
{
    TempDir dir;
    LoadedImage image;
    EXPECT_EQ(Load(image, dir.Path() / "missing.bmp"), IDS_CANNOT_READ);
    EXPECT_EQ(Load(image, dir.Path()), IDS_CANNOT_READ);
    std::filesystem::create_directory(dir.Path() / "folder.bmp");
    EXPECT_EQ(Load(image, dir.Path() / "folder.bmp"), IDS_CANNOT_READ);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0);
}

TEST(BmpLoader, EmptiesTheRecordBeforeEveryLoad)
{
    TempDir dir;
    BmpSpec spec;
    spec.width = 3;
    spec.height = 3;
    const auto good = dir.WriteBmp("good.bmp", spec);
    spec.bitCount = 8;
    const auto rejected = dir.WriteBmp("rejected.bmp", spec);

    LoadedImage image;
    ASSERT_EQ(Load(image, good), 0);
    ASSERT_NE(image.pixels, nullptr);
    EXPECT_EQ(Load(image, rejected), IDS_UNSUPPORTED_FORMAT);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_EQ(image.stride, 0);
    ASSERT_EQ(Load(image, good), 0);
    ASSERT_EQ(Load(image, good), 0);
    ExpectPicture(image, 3, 3, Gradient);
}

TEST(BmpLoader, OpensJapaneseFileNames)
{
    TempDir dir;
    BmpSpec spec;
    spec.width = 2;
    spec.height = 3;
    LoadedImage image;
    ASSERT_EQ(Load(image, dir.WriteBmp("比較画像.bmp", spec)), 0);
    ExpectPicture(image, 2, 3, Gradient);
}

TEST(BmpFormat, WritesHeadersTheLoaderReadsBack)
{
    const int width = 5, height = 3;
    std::vector<unsigned char> pixels(size_t(BmpStride(width) * height));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 31);
    ImageBuffer source{width, height, BmpStride(width), pixels.data()};

    std::vector<uint8_t> file(c_cbHeaders);
    ASSERT_TRUE(EncodeBmpHeaders(source, file.data()));
    file.insert(file.end(), pixels.begin(), pixels.end());
    TempDir dir;
    LoadedImage image;
    ASSERT_EQ(Load(image, dir.Write("w.bmp", file)), 0);
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(std::vector<unsigned char>(image.pixels, image.pixels + pixels.size()), pixels);

    const ImageBuffer huge{65535, 65535, BmpStride(65535), nullptr};
    EXPECT_FALSE(EncodeBmpHeaders(huge, file.data()));
}
