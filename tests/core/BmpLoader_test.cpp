#include "BmpBuilder.h"
#include "BmpFormat.h"
#include "BmpLoader.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

namespace {

class BmpLoader : public testing::Test
{
protected:
    ~BmpLoader() override { FreeImageBuffer(m_image); }

    int Load(const std::filesystem::path& path) { return LoadBmpFile(m_image, WidePath(path).c_str()); }

    // Every pixel where the picture has it, in the bottom-up rows of a
    // padded stride.
    void ExpectPicture(int width, int height, const PixelFn& pixel)
    {
        ASSERT_EQ(m_image.width, width);
        ASSERT_EQ(m_image.height, height);
        ASSERT_EQ(m_image.stride, (width * 3 + 3) / 4 * 4);
        ASSERT_NE(m_image.pixels, nullptr);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = m_image.pixels + (height - 1 - y) * m_image.stride + 3 * x;
                ASSERT_EQ((Rgb{p[2], p[1], p[0]}), pixel(x, y)) << "at (" << x << ", " << y << ")";
            }
        }
    }

    void ExpectEmpty()
    {
        EXPECT_EQ(m_image.pixels, nullptr);
        EXPECT_EQ(m_image.width, 0);
        EXPECT_EQ(m_image.height, 0);
        EXPECT_EQ(m_image.stride, 0);
    }

    TempDir m_dir;
    ImageBuffer m_image;
};

} // namespace

// Files that real programs write: each loads with its real pixels.
TEST_F(BmpLoader, ReadsPixelsWhereTheFileSaysTheyStart)
{
    struct Case { const char* name; int width; int32_t height; uint32_t infoSize, gap; int64_t sizeImage; };
    const Case cases[] = {
        {"classic 40-byte header", 7, 3, 40, 0, -1},
        {"one pixel", 1, 1, 40, 0, -1},
        {"no padding", 4, 2, 40, 0, -1},
        {"108-byte header", 5, 3, 108, 0, -1},
        {"124-byte header with gap", 7, 3, 124, 4, -1},
        {"colour table gap", 7, 3, 40, 36, -1},
        {"top-down rows", 7, -3, 40, 0, -1},
        {"top-down with 124-byte header", 8, -5, 124, 0, -1},
        {"biSizeImage 0", 7, 3, 40, 0, 0},
        {"biSizeImage too small", 7, 3, 40, 0, 5},
        {"biSizeImage too large", 7, 3, 40, 0, 4096},
        {"比較画像", 2, 3, 40, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec spec = Picture(c.width, c.height);
        spec.infoSize = c.infoSize;
        spec.gapBytes = c.gap;
        spec.sizeImage = c.sizeImage;
        ASSERT_EQ(Load(m_dir.WriteBmp(std::string(c.name) + ".bmp", spec)), 0);
        ExpectPicture(c.width, std::abs(c.height), Gradient);
    }
}

TEST_F(BmpLoader, RefusesBadAndHostileFilesWithTheirOwnCode)
{
    const auto changed = [](std::function<void(BmpSpec&)> change) {
        BmpSpec spec = Picture(4, 2);
        change(spec);
        return BuildBmp(spec);
    };
    const std::vector<uint8_t> good = BuildBmp(Picture(4, 4));
    const auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        auto out = good;
        std::copy(bytes.begin(), bytes.end(), out.begin() + long(at));
        return out;
    };
    const auto black = [](int, int) { return Rgb{}; };
    struct Case { const char* name; std::vector<uint8_t> bytes; int expected; };
    const Case cases[] = {
        {"signature MB", changed([](BmpSpec& s) { s.signature[0] = 'M'; s.signature[1] = 'B'; }), IDS_NOT_BITMAP},
        {"8-bit", changed([](BmpSpec& s) { s.bitCount = 8; }), IDS_UNSUPPORTED_FORMAT},
        {"32-bit", changed([](BmpSpec& s) { s.bitCount = 32; }), IDS_UNSUPPORTED_FORMAT},
        {"bit fields", changed([](BmpSpec& s) { s.compression = 3; }), IDS_UNSUPPORTED_FORMAT},
        {"RLE", changed([](BmpSpec& s) { s.compression = 1; }), IDS_UNSUPPORTED_FORMAT},
        {"12-byte core header", changed([](BmpSpec& s) { s.infoSize = 12; s.gapBytes = 28; }), IDS_UNSUPPORTED_FORMAT},
        {"width 0", changed([](BmpSpec& s) { s.width = 0; }), IDS_NOT_BITMAP},
        {"height 0", changed([](BmpSpec& s) { s.height = 0; }), IDS_NOT_BITMAP},
        {"negative width", changed([](BmpSpec& s) { s.width = -4; }), IDS_NOT_BITMAP},
        {"rows start inside the headers", changed([](BmpSpec& s) { s.offBits = 40; }), IDS_NOT_BITMAP},
        {"rows start inside a long header", changed([](BmpSpec& s) { s.infoSize = 124; s.offBits = 54; }), IDS_NOT_BITMAP},
        {"rows start past the end", changed([](BmpSpec& s) { s.offBits = 1 << 20; }), IDS_NOT_BITMAP},
        {"width 65536", changed([&](BmpSpec& s) { s.width = 65536; s.height = 1; s.pixel = black; }), IDS_IMAGE_TOO_LARGE},
        {"height -65536", changed([&](BmpSpec& s) { s.height = -65536; s.width = 1; s.pixel = black; }), IDS_IMAGE_TOO_LARGE},
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
        EXPECT_EQ(Load(m_dir.Write("bad.bmp", c.bytes)), c.expected);
        ExpectEmpty();
    }
    // The longest side positions can name still loads.
    EXPECT_EQ(Load(m_dir.WriteBmp("widest.bmp", Picture(65535, 1, black))), 0);
}

TEST_F(BmpLoader, ReportsWhatCannotBeReadAndEmptiesTheRecordFirst)
{
    const auto good = m_dir.WriteBmp("good.bmp", Picture(3, 3));
    std::filesystem::create_directory(m_dir.Path() / "folder.bmp");
    for (const auto& path : {m_dir.Path() / "missing.bmp", m_dir.Path() / "folder.bmp", m_dir.Path()}) {
        SCOPED_TRACE(path.string());
        ASSERT_EQ(Load(good), 0);
        EXPECT_EQ(Load(path), IDS_CANNOT_READ);
        ExpectEmpty();
    }
    ASSERT_EQ(Load(good), 0);
    ASSERT_EQ(Load(good), 0);
    ExpectPicture(3, 3, Gradient);
}

TEST(BmpFormat, WritesFilesTheLoaderReadsBack)
{
    TempDir dir;
    MemoryImage source(5, 3, Gradient);
    std::vector<uint8_t> file(c_cbHeaders);
    ASSERT_TRUE(EncodeBmpHeaders(source.Record(), file.data()));
    file.insert(file.end(), source.bytes.begin(), source.bytes.end());
    ImageBuffer image;
    ASSERT_EQ(LoadBmpFile(image, WidePath(dir.Write("w.bmp", file)).c_str()), 0);
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 3);
    EXPECT_EQ(std::vector<uint8_t>(image.pixels, image.pixels + source.bytes.size()), source.bytes);
    FreeImageBuffer(image);

    EXPECT_FALSE(EncodeBmpHeaders(ImageBuffer{65535, 65535, BmpStride(65535), nullptr}, file.data()));
}
