// The codecs alone, without the program: pictures written row by row read
// back pixel for pixel.

#include "BmpLoader.h"
#include "ImageFile.h"
#include "RowSink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A picture with flat runs, steps and noise, in `channels` bytes a pixel.
std::vector<uint8_t> Pixels(int32_t width, int32_t height, int channels)
{
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i / size_t(channels) % 7 == 0 ? i * 131 : (i / 97) * 29 + i % size_t(channels));
    return pixels;
}

std::filesystem::path Write(const std::string& name, bool png, int32_t width, int32_t height, int channels,
                            const std::vector<uint8_t>& pixels, bool bgr)
{
    const auto path = std::filesystem::temp_directory_path() / name;
    FILE* file = std::fopen(path.string().c_str(), "wb");
    const ByteSink out = [&](const void* bytes, size_t count) { return std::fwrite(bytes, 1, count, file) == count; };
    const auto sink = png ? NewPngSink(out, width, height, channels, bgr) : NewBmpSink(out, width, height);
    const size_t stride = size_t(width) * channels;
    bool ok = sink != nullptr;
    for (int32_t y = 0; y < height && ok; ++y)
        ok = sink->Row(pixels.data() + y * stride);
    EXPECT_TRUE(ok && sink->Finish());
    EXPECT_FALSE(sink && sink->Row(pixels.data())) << "a row past the last";
    EXPECT_EQ(std::fclose(file), 0);
    return path;
}

} // namespace

// PNG of three or four channels, rows given red first or blue first, wide
// enough for several image data chunks; BMP stored top first: each reads
// back as written.
TEST(RowSink, WritesPicturesThatReadBackPixelForPixel)
{
    struct Row { bool png; int32_t width, height; int channels; bool bgr; };
    for (const Row& row : {Row{true, 1, 1, 3, false}, Row{true, 333, 211, 3, false}, Row{true, 333, 211, 3, true},
                           Row{true, 97, 40, 4, false}, Row{true, 97, 40, 4, true}, Row{true, 1500, 900, 3, true},
                           Row{false, 7, 5, 3, true}, Row{false, 333, 211, 3, true}}) {
        SCOPED_TRACE(testing::Message() << (row.png ? "PNG " : "BMP ") << row.width << "x" << row.height << " "
                                        << row.channels << (row.bgr ? " bgr" : " rgb"));
        const std::vector<uint8_t> pixels = Pixels(row.width, row.height, row.channels);
        const auto path = Write("tobrel-sink-" + std::to_string(row.width) + (row.png ? ".png" : ".bmp"), row.png,
                                row.width, row.height, row.channels, pixels, row.bgr);
        CImageFile file;
        CImage image;
        ASSERT_EQ(file.Open(path.string()), Trouble::None);
        ASSERT_EQ(file.Decode(row.channels, image), Trouble::None);
        size_t wrong = 0;
        for (int32_t y = 0; y < row.height; ++y) {
            const uint8_t* got = image.View().Row(y);
            const uint8_t* sent = pixels.data() + size_t(y) * row.width * row.channels;
            for (int32_t x = 0; x < row.width * row.channels; x += row.channels) {
                // Decoded blue first; sent red first unless `bgr` (a BMP always is).
                const bool swap = row.png && !row.bgr;
                wrong += got[x] != sent[x + (swap ? 2 : 0)] || got[x + 1] != sent[x + 1] ||
                         got[x + 2] != sent[x + (swap ? 0 : 2)] || (row.channels == 4 && got[x + 3] != sent[x + 3]);
            }
        }
        EXPECT_EQ(wrong, 0u);
        if (!row.png) {
            // The program's own loader takes the top-down file too.
            ImageBuffer loaded;
            ASSERT_EQ(LoadBmpFile(loaded, path.wstring().c_str()), 0);
            EXPECT_EQ(loaded.pixels[PixelOffset(loaded, 0, 0)], pixels[0]);
            FreeImageBuffer(loaded);
        }
        std::filesystem::remove(path);
    }
}
