// JPEG, WebP, TIFF and GIF files that ImageMagick made at build time
// (make-format-files.sh), decoded by our row sources and held to the pixels
// ImageMagick decodes from the same files. On Linux both use the same
// libraries and must agree exactly; on Windows the system decodes, and its
// JPEG decoder rounds and upsamples chroma differently.

#include "BmpBuilder.h"
#include "ImageFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::filesystem::path c_folder = "format-files";

// The picture read through Start, Next and Finish, `rows` at a time.
Trouble ReadRows(CImageFile& file, int channels, int32_t rows, std::vector<uint8_t>& out)
{
    const size_t bytes = size_t(file.Width()) * size_t(channels);
    out.assign(bytes * size_t(file.Height()), 0);
    Trouble trouble = file.Start(channels);
    for (int32_t top = 0; top < file.Height() && trouble == Trouble::None; top += rows)
        trouble = file.Next(std::min(rows, file.Height() - top), out.data() + size_t(top) * bytes);
    return trouble == Trouble::None ? file.Finish() : trouble;
}

struct Decodable
{
    const char* name;
    bool alpha;         // the file has alpha
    int windowsSlack;   // how far the system's decoder may stray on Windows; -1:
                        // it may refuse the file (Wine's cannot read it)
};

const Decodable c_decodable[] = {
    {"jpeg-q90-444.jpg", false, 3},
    // Chroma at half resolution is brought back by another method there
    // (measured under Wine 8: up to 18, 13 and 21 levels on this picture).
    {"jpeg-q50-420.jpg", false, 24},
    {"jpeg-q75-422.jpg", false, 16},
    {"jpeg-progressive.jpg", false, 24},
    {"jpeg-grey.jpg", false, 3},
    {"webp-lossy.webp", false, 0},
    {"webp-lossless.webp", false, 0},
    {"webp-alpha-lossy.webp", true, 0},
    {"webp-alpha-lossless.webp", true, 0},
    {"tiff-none.tif", false, 0},
    {"tiff-lzw.tif", false, 0},
    {"tiff-big-endian.tif", false, 0},
    {"tiff-deflate.tif", false, 0},
    {"tiff-packbits.tif", false, 0},
    {"tiff-tiles.tif", false, 0},
    {"tiff-rgba.tif", true, 0},
    {"tiff-rgba-tiles.tif", true, 0},
    {"tiff-grey.tif", false, 0},
    {"tiff-palette.tif", false, 1},  // 16-bit colours rounded there, not cut
    {"tiff-bilevel.tif", false, 0},
    {"tiff-jpeg.tif", false, -1},
    {"gif-plain.gif", false, 0},
    {"gif-transparent.gif", true, 0},
    {"gif-interlaced.gif", false, 0},
    {"gif-animated.gif", false, 0},
};

} // namespace

TEST(Formats, EveryFileGivesThePixelsImageMagickDecodes)
{
    for (const Decodable& c : c_decodable) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = c_folder / c.name;
        const std::vector<uint8_t> expected = ReadBytes(path.string() + ".rgba");
        ASSERT_FALSE(expected.empty()) << "make-format-files.sh did not run";
        CImageFile file;
        const Trouble opened = file.Open(path.string());
#ifdef _WIN32
        if (opened == Trouble::FormatUnavailable && path.extension() == ".webp")
            continue;  // the system has no WebP codec
        const int slack = c.windowsSlack;
#else
        const int slack = 0;
        EXPECT_EQ(file.HasAlpha(), c.alpha);
#endif
        ASSERT_EQ(opened, Trouble::None);
        ASSERT_EQ(size_t(file.Width()) * size_t(file.Height()) * 4, expected.size());

        // Whole bands, single rows and odd bands, with alpha and without.
        for (int channels : {4, 3}) {
            for (int32_t rows : {file.Height(), 1, 5}) {
                std::vector<uint8_t> got;
                const Trouble read = ReadRows(file, channels, rows, got);
                if (slack < 0 && read != Trouble::None)
                    break;
                ASSERT_EQ(read, Trouble::None) << channels << " channels";
                int worst = 0;
                int64_t differing = 0;
                for (size_t i = 0, j = 0; i < expected.size(); i += 4, j += size_t(channels)) {
                    // Ours come blue first; ImageMagick's red first.
                    const int error = std::max({std::abs(got[j] - expected[i + 2]), std::abs(got[j + 1] - expected[i + 1]),
                                                std::abs(got[j + 2] - expected[i]),
                                                channels == 4 ? std::abs(got[j + 3] - expected[i + 3]) : 0});
                    worst = std::max(worst, error);
                    differing += error > 0;
                }
                EXPECT_LE(worst, slack < 0 ? 3 : slack) << differing << " pixels differ, " << channels << " channels, " << rows
                                        << " rows at a time";
            }
        }
    }
}

TEST(Formats, LayoutsWeDoNotCompareAreRefusedWithTheirOwnReason)
{
    const struct
    {
        const char* name;
        Trouble trouble;
    } cases[] = {
        {"jpeg-cmyk.jpg", Trouble::JpegCmyk},
        {"tiff-16bit.tif", Trouble::TiffDeepSamples},
        {"tiff-float.tif", Trouble::TiffDeepSamples},
    };
    for (const auto& c : cases) {
        CImageFile file;
        EXPECT_EQ(file.Open((c_folder / c.name).string()), c.trouble) << c.name;
    }
}

TEST(Formats, AFileOfSeveralPicturesIsComparedByItsFirstAndSaysSo)
{
    for (const char* name : {"gif-animated.gif", "gif-plain.gif", "tiff-lzw.tif"}) {
        CImageFile file;
        std::vector<uint8_t> rows;
        ASSERT_EQ(file.Open((c_folder / name).string()), Trouble::None) << name;
        ASSERT_EQ(ReadRows(file, 4, 7, rows), Trouble::None) << name;
        EXPECT_EQ(file.MorePictures(), std::string(name) == "gif-animated.gif") << name;
    }
}

TEST(Formats, AFileIsToldByItsFirstBytesNotItsName)
{
    TempDir dir;
    const std::filesystem::path renamed = dir.Write("photo.png", ReadBytes(c_folder / "jpeg-q90-444.jpg"));
    CImageFile file;
    ASSERT_EQ(file.Open(renamed.string()), Trouble::None);
    EXPECT_EQ(file.Format(), ImageFormat::Jpeg);
}
