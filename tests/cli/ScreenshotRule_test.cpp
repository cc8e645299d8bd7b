// The screenshot rule in process: its counts against pixelmatch's, its
// exact rule against the plain count, its marks in the difference image.

#include "BmpBuilder.h"
#include "ImageFile.h"
#include "PairCompare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern std::filesystem::path g_toolPath;

namespace {

const PairResult& Compare(const std::filesystem::path& a, const std::filesystem::path& b, const PairOptions& options,
                          PairResult& result)
{
    ComparePair(a.string(), b.string(), options, result);
    return result;
}

// The colour of pixel (x, y) of an image file, blue, green, red, alpha.
std::vector<uint8_t> PixelOf(const std::filesystem::path& path, int x, int y)
{
    CImageFile file;
    CImage image;
    if (file.Open(path.string()) != Trouble::None || file.Decode(4, image) != Trouble::None)
        return {};
    const uint8_t* p = image.View().Row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

} // namespace

// Pairs drawn by ImageMagick (text two ways, a photo-like picture, alpha)
// with pixelmatch 7.2.0's counts beside them, recorded by
// bench/check-pixelmatch --record.
TEST(ScreenshotRule, CountsWhatPixelmatchCounts)
{
    const auto dir = g_toolPath.parent_path() / "pixelmatch";
    std::ifstream table(dir / "counts.txt");
    ASSERT_TRUE(table) << dir;
    int rows = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string pair, antialiasing;
        PairOptions options;
        int64_t expected = -1;
        fields >> pair >> options.rule.threshold >> antialiasing >> expected;
        options.rule.bAntialiasing = antialiasing == "yes";
        SCOPED_TRACE(line);
        PairResult result;
        Compare(dir / (pair + "-a.png"), dir / (pair + "-b.png"), options, result);
        EXPECT_EQ(result.trouble, Trouble::None) << result.message;
        EXPECT_EQ(result.summary.count, expected);
        ++rows;
    }
    EXPECT_EQ(rows, 70);
}

// Judged with its neighbours at hand, band by band on several threads, the
// exact rule finds what the plain count finds, in pictures several bands
// tall and both ways up.
TEST(ScreenshotRule, JudgesByTheExactRuleAsThePlainCountDoes)
{
    TempDir dir;
    const auto speckled = [](int x, int y) {
        Rgb c = Gradient(x, y);
        if ((x * 7 + y * 13) % 29 == 0 || (y >= 30 && y <= 35 && x == 17))
            c.b = uint8_t(c.b + 3 + (x + y) % 5);
        return c;
    };
    for (const int height : {70, -70, 1}) {
        SCOPED_TRACE(height);
        const auto a = dir.WriteBmp("a.bmp", Picture(2000, height));
        const auto b = dir.WriteBmp("b.bmp", Picture(2000, height, speckled));
        for (const unsigned tolerance : {1u, 4u}) {
            PairOptions plain;
            plain.rule.tolerance = tolerance;
            plain.bList = true;
            PairOptions judged = plain;
            judged.bRegions = true;
            judged.maxRegions = 1 << 20;
            judged.threads = 2;
            PairResult expected, result;
            Compare(a, b, plain, expected);
            Compare(a, b, judged, result);
            ASSERT_GT(expected.summary.count, 0);
            EXPECT_EQ(result.summary.count, expected.summary.count);
            EXPECT_EQ(result.summary.left, expected.summary.left);
            EXPECT_EQ(result.summary.top, expected.summary.top);
            EXPECT_EQ(result.summary.right, expected.summary.right);
            EXPECT_EQ(result.summary.bottom, expected.summary.bottom);
            ASSERT_EQ(result.list.Size(), expected.list.Size());
            for (int i = 0; i < result.list.Size(); ++i) {
                ASSERT_EQ(result.list[i].x, expected.list[i].x) << i;
                ASSERT_EQ(result.list[i].y, expected.list[i].y) << i;
            }
            EXPECT_EQ(result.regionsLeftOut, 0);
            int64_t inRegions = 0;
            for (const DiffRegion& region : result.regions)
                inRegions += region.count;
            EXPECT_EQ(inRegions, expected.summary.count);
        }
    }
}

// Red for counted pixels, yellow for anti-aliasing, grey for ignored areas:
// over the dimmed first picture, or alone in a mask.
TEST(ScreenshotRule, MarksEachKindOfPixelInTheDifferenceImage)
{
    TempDir dir;
    // A hard edge from orange to black in the first picture; the second
    // softens one pixel of it to grey (anti-aliasing) and changes a flat
    // pixel outright.
    const auto first = [](int x, int) { return x < 4 ? Rgb{250, 200, 40} : Rgb{0, 0, 0}; };
    const auto second = [&](int x, int y) {
        if (x == 4 && y == 3)
            return Rgb{128, 128, 128};
        if (x == 1 && y == 1)
            return Rgb{0, 200, 0};
        if (x == 6 && y == 5)
            return Rgb{0, 0, 255};
        return first(x, y);
    };
    const auto a = dir.WriteBmp("a.bmp", Picture(8, 7, first));
    const auto b = dir.WriteBmp("b.bmp", Picture(8, 7, second));
    PairOptions options;
    options.rule.threshold = 0.1;
    options.rule.bAntialiasing = true;
    options.rule.ignored = {{6, 5, 9, 9}};
    using Bgra = std::vector<uint8_t>;
    struct Case { const char* name; bool mask; Bgra counted, antialiased, ignored, other; };
    const Case cases[] = {
        {"image.png", false, {0, 0, 255, 255}, {0, 255, 255, 255}, {128, 128, 128, 255}, {40 / 3 + 24, 200 / 3 + 24, 250 / 3 + 24, 255}},
        {"image.bmp", false, {0, 0, 255, 255}, {0, 255, 255, 255}, {128, 128, 128, 255}, {40 / 3 + 24, 200 / 3 + 24, 250 / 3 + 24, 255}},
        {"mask.png", true, {0, 0, 255, 255}, {0, 255, 255, 255}, {128, 128, 128, 255}, {0, 0, 0, 0}},
        {"mask.bmp", true, {0, 0, 255, 255}, {0, 255, 255, 255}, {128, 128, 128, 255}, {0, 0, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        options.diffImage = (dir.Path() / c.name).string();
        options.bDiffMask = c.mask;
        PairResult result;
        Compare(a, b, options, result);
        ASSERT_EQ(result.trouble, Trouble::None) << result.message;
        EXPECT_EQ(result.summary.count, 1);
        EXPECT_EQ(result.antialiased, 1);
        EXPECT_EQ(result.compared, 8 * 7 - 4);
        const auto out = dir.Path() / c.name;
        EXPECT_EQ(PixelOf(out, 1, 1), c.counted);
        EXPECT_EQ(PixelOf(out, 4, 3), c.antialiased);
        EXPECT_EQ(PixelOf(out, 6, 5), c.ignored);
        EXPECT_EQ(PixelOf(out, 7, 6), c.ignored);
        EXPECT_EQ(PixelOf(out, 0, 0), c.other);
        EXPECT_EQ(PixelOf(out, 5, 5), (c.mask ? c.other : Bgra{24, 24, 24, 255}));
    }
}

// A pixel on the picture's edge counts the edge as one neighbour of its own
// colour: the grey pixel on the left edge below has two grey neighbours, so
// three, and is no anti-aliasing though its black neighbour lies in a flat
// black area.
TEST(ScreenshotRule, CountsThePictureEdgeAsANeighbourOfThePixelsColour)
{
    const std::vector<std::string> rows = {"bbbw", "gbbw", "Plbw", "gwww", "wwww"};
    const auto picture = [&](Rgb p) {
        return Picture(4, 5, [&, p](int x, int y) {
            switch (rows[size_t(y)][size_t(x)]) {
            case 'b': return Rgb{0, 0, 0};
            case 'g': return Rgb{128, 128, 128};
            case 'l': return Rgb{200, 200, 200};
            case 'P': return p;
            default: return Rgb{255, 255, 255};
            }
        });
    };
    TempDir dir;
    const auto a = dir.WriteBmp("a.bmp", picture({0, 0, 0}));
    const auto b = dir.WriteBmp("b.bmp", picture({128, 128, 128}));
    PairOptions options;
    options.rule.threshold = 0.1;
    options.rule.bAntialiasing = true;
    PairResult result;
    Compare(a, b, options, result);
    EXPECT_EQ(result.summary.count, 1);
    EXPECT_EQ(result.antialiased, 0);
}

TEST(ScreenshotRule, PassesWithinEveryLimitGiven)
{
    struct Case { int64_t count, compared, maxPixels; double maxRatio; bool passes; };
    const Case cases[] = {
        {0, 100, -1, -1, true},
        {1, 100, -1, -1, false},
        {5, 100, 5, -1, true},
        {6, 100, 5, -1, false},
        {5, 100, -1, 0.05, true},
        {6, 100, -1, 0.05, false},
        {5, 100, 4, 0.05, false},
        {5, 100, 5, 0.04, false},
        {0, 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        PairOptions options;
        options.maxDiffPixels = c.maxPixels;
        options.maxDiffRatio = c.maxRatio;
        EXPECT_EQ(Passes(options, c.count, c.compared), c.passes)
            << c.count << " of " << c.compared << ", " << c.maxPixels << ", " << c.maxRatio;
    }
}

// Ignored areas in any overlap leave out exactly their union, by the exact
// rule and the perceptual one alike: on a pair whose every pixel differs,
// what is compared is what is counted.
TEST(ScreenshotRule, LeavesOutExactlyTheUnionOfTheIgnoredAreas)
{
    TempDir dir;
    const auto inverted = [](int x, int y) {
        const Rgb c = Gradient(x, y);
        return Rgb{uint8_t(~c.r), uint8_t(~c.g), uint8_t(~c.b)};
    };
    const auto a = dir.WriteBmp("a.bmp", Picture(12, 12)), b = dir.WriteBmp("b.bmp", Picture(12, 12, inverted));
    struct Case { std::vector<PixelRect> areas; int64_t compared; };
    const Case cases[] = {
        {{{0, 0, 9, 9}, {2, 2, 4, 4}}, 144 - 100},        // one inside the other
        {{{2, 2, 4, 4}, {0, 0, 9, 9}}, 144 - 100},
        {{{0, 0, 3, 3}, {2, 2, 5, 5}}, 144 - 28},         // corners overlapping
        {{{5, 0, 5, 11}, {0, 5, 11, 5}}, 144 - 23},       // a cross
        {{{0, 0, 1, 1}, {6, 0, 7, 1}, {3, 0, 4, 1}}, 144 - 12},  // apart, out of order
        {{{10, 10, 20, 20}}, 144 - 4},                    // reaching past the picture
    };
    for (const Case& c : cases) {
        for (const double threshold : {-1.0, 0.1}) {
            SCOPED_TRACE(testing::Message() << c.compared << ", threshold " << threshold);
            PairOptions options;
            options.rule.ignored = c.areas;
            options.rule.threshold = threshold;
            PairResult result;
            Compare(a, b, options, result);
            EXPECT_EQ(result.compared, c.compared);
            EXPECT_EQ(result.summary.count, c.compared);
        }
    }
}

// A pair wider than a band's worth of rows is judged band by band, each
// band with the rows around it: anti-aliasing, which reads the neighbours'
// neighbours, is found at the bands' edges as in the whole pictures.
TEST(ScreenshotRule, JudgesBandByBandAsTheWholePicturesDo)
{
    TempDir dir;
    // Pixels of three greys at random: many neighbours alike, so whether a
    // pixel is anti-aliasing turns on its neighbours' neighbours.
    const auto grey = [](uint32_t h) {
        const uint8_t v = uint8_t(h % 3 * 127);
        return Rgb{v, v, v};
    };
    const auto tiles = [&](int x, int y) { return grey((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 7); };
    const auto changed = [&](int x, int y) {
        const uint32_t h = (uint32_t(x) * 40503u ^ uint32_t(y) * 2654435761u) >> 9;
        return h % 5 == 0 ? grey(h / 5) : tiles(x, y);
    };
    // PNG files, read as bands (a BMP would be read in place, whole).
    const auto a = dir.WritePng("a.png", 8192, 130, tiles), b = dir.WritePng("b.png", 8192, 130, changed);
    PairOptions options;
    options.rule.threshold = 0.1;
    options.rule.bAntialiasing = true;
    options.threads = 2;
    PairResult result;
    Compare(a, b, options, result);
    ASSERT_EQ(result.trouble, Trouble::None) << result.message;

    CImageFile files[2];
    CImage images[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(files[i].Open((i ? b : a).string()), Trouble::None);
        ASSERT_EQ(files[i].Decode(3, images[i]), Trouble::None);
    }
    const CPixelJudge judge(images[0].View(), images[1].View(), options.rule);
    int64_t counted = 0, antialiased = 0;
    std::vector<int32_t> xs, aa;
    for (int32_t y = 0; y < 130; ++y) {
        xs.clear();
        aa.clear();
        judge.JudgeRow(y, xs, aa);
        counted += int64_t(xs.size());
        antialiased += int64_t(aa.size());
    }
    EXPECT_GT(antialiased, 0);
    EXPECT_EQ(result.summary.count, counted);
    EXPECT_EQ(result.antialiased, antialiased);
}
