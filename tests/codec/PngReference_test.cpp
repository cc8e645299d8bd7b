// Our PNG decoder against libspng's on every colour type, depth, filter and
// transparency: the same pixels, or both refuse.

#include "PngBuilder.h"
#include "PngCodec.h"
#include "SpngReference.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Pixels(const CImage& image)
{
    const ImageView& view = image.View();
    return {view.Row(0), view.Row(0) + size_t(view.width) * size_t(view.height) * size_t(view.channels)};
}

// Sample values for a pixel of `count` samples of `depth` bits.
std::function<std::vector<uint8_t>(int, int)> Samples(int count, int depth, int seed)
{
    return [=](int x, int y) {
        std::vector<uint8_t> out;
        for (int k = 0; k < count; ++k)
            out.push_back(uint8_t(((x * 37 + y * 91 + k * 53 + seed) * 2654435761u >> 13) & ((1u << depth) - 1)));
        return out;
    };
}

TEST(PngReference, DecodesEveryLayoutAsLibspngDoes)
{
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    struct Layout { uint8_t type, depth; int samples; };
    const Layout layouts[] = {{0, 1, 1}, {0, 2, 1}, {0, 4, 1}, {0, 8, 1}, {2, 8, 3}, {3, 1, 1}, {3, 2, 1},
                              {3, 4, 1}, {3, 8, 1}, {4, 8, 2}, {6, 8, 4}};
    for (const Layout& layout : layouts) {
        for (const bool interlaced : {false, true}) {
            for (const int transparency : {0, 1}) {
                if (transparency && (layout.type == 4 || layout.type == 6))
                    continue;
                for (const auto& [width, height] : {std::pair{1, 1}, {13, 7}, {67, 33}}) {
                    PngSpec spec{width, height, layout.type, layout.depth, interlaced, {}, {},
                                 Samples(layout.samples, layout.depth, width), -1, 5, width > 60};
                    if (layout.type == 3)
                        spec.palette.assign(palette.begin(), palette.begin() + 3 * (1 << layout.depth));
                    // Transparency: a few palette entries, or the colour of
                    // the first pixel made transparent.
                    if (transparency && layout.type == 3)
                        spec.trns = {0, 128, 255}, spec.trns.resize(std::min<size_t>(3, spec.palette.size() / 3));
                    const std::vector<uint8_t> first = spec.samples(0, 0);
                    if (transparency && layout.type == 0)
                        spec.trns = {0, first[0]};
                    if (transparency && layout.type == 2)
                        spec.trns = {0, first[0], 0, first[1], 0, first[2]};
                    SCOPED_TRACE(testing::Message() << "type " << int(layout.type) << " depth " << int(layout.depth)
                                                    << (interlaced ? " interlaced" : "") << " transparency "
                                                    << transparency << " " << width << "x" << height);
                    const std::vector<uint8_t> file = BuildPng(spec);
                    PngFile png;
                    ASSERT_EQ(ReadPngFile(file.data(), file.size(), png), Trouble::None);
                    for (const int channels : {3, 4}) {
                        CImage ours, theirs;
                        ASSERT_EQ(DecodePng(png, channels, ours), Trouble::None);
                        ASSERT_TRUE(DecodeWithSpng(file.data(), file.size(), channels, theirs));
                        EXPECT_EQ(Pixels(ours), Pixels(theirs)) << channels << " channels";
                    }
                }
            }
        }
    }
}

// A file of `spec` with its header's bytes 8 to 12 (depth, colour type,
// compression, filter and interlace methods) replaced.
std::vector<uint8_t> WithHeader(PngSpec spec, std::vector<uint8_t> fields)
{
    std::vector<uint8_t> file = BuildPng(spec);
    std::copy(fields.begin(), fields.end(), file.begin() + 16 + 8);
    const uint32_t crc = PngCrc(file.data() + 12, 17);
    file[29] = uint8_t(crc >> 24), file[30] = uint8_t(crc >> 16), file[31] = uint8_t(crc >> 8), file[32] = uint8_t(crc);
    return file;
}

// A file of `spec` with `chunks` (type and data) before its image data.
std::vector<uint8_t> WithChunks(const PngSpec& spec, const std::vector<std::pair<const char*, std::vector<uint8_t>>>& chunks)
{
    std::vector<uint8_t> file = BuildPng(spec), more;
    for (const auto& [type, data] : chunks)
        PutChunk(more, type, data);
    file.insert(file.begin() + 33, more.begin(), more.end());
    return file;
}

TEST(PngReference, RefusesWhatLibspngRefusesAndPassesOverWhatItPassesOver)
{
    const auto palette = [](int entries) {
        std::vector<uint8_t> out;
        for (int i = 0; i < entries; ++i)
            out.insert(out.end(), {uint8_t(i), 0, 0});
        return out;
    };
    const auto index = [](int x, int) { return std::vector<uint8_t>{uint8_t(x % 2)}; };
    const PngSpec rgb{4, 3, 2, 8, false, {}, {}, RgbSamples(Gradient)};
    const PngSpec grey{4, 3, 0, 8, false, {}, {}, [](int x, int) { return std::vector<uint8_t>{uint8_t(x)}; }};
    const PngSpec rgba{4, 3, 6, 8, false, {}, {}, [](int x, int) { return std::vector<uint8_t>{1, 2, 3, uint8_t(x)}; }};
    const PngSpec indexed{4, 3, 3, 8, false, palette(2), {}, index};
    PngSpec unknownFilter = rgb;
    unknownFilter.unknownFilterRow = 1;
    const auto two = palette(2);
    // Refused, or decoded as libspng decodes them.
    struct Case { const char* name; std::vector<uint8_t> file; bool refused; };
    const Case cases[] = {
        {"an index past the palette", BuildPng({4, 2, 3, 8, false, palette(3), {}, [](int x, int) { return std::vector<uint8_t>{uint8_t(x)}; }}), true},
        {"an index past the palette, interlaced", BuildPng({9, 9, 3, 2, true, palette(3), {}, [](int x, int y) { return std::vector<uint8_t>{uint8_t(x == 8 && y == 8 ? 3 : 0)}; }}), true},
        {"an unknown filter type", BuildPng(unknownFilter), true},
        {"a depth of 3", WithHeader(rgb, {3, 0, 0, 0, 0}), true},
        {"colour type 1", WithHeader(rgb, {8, 1, 0, 0, 0}), true},
        {"a palette of 16 bits", WithHeader(indexed, {16, 3, 0, 0, 0}), true},
        {"compression method 1", WithHeader(rgb, {8, 2, 1, 0, 0}), true},
        {"filter method 1", WithHeader(rgb, {8, 2, 0, 1, 0}), true},
        {"interlace method 2", WithHeader(rgb, {8, 2, 0, 0, 2}), true},
        {"no palette", BuildPng({4, 3, 3, 8, false, {}, {}, index}), true},
        {"a palette of no colours", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"PLTE", {}}}), true},
        {"a palette of a colour and a half", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"PLTE", {1, 2, 3, 4}}}), true},
        {"a palette after its transparency", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"PLTE", two}, {"tRNS", {7}}, {"PLTE", two}}), true},
        {"two palettes, the second taken", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"PLTE", two}, {"PLTE", {9, 9, 9, 8, 8, 8}}}), false},
        {"a palette in a grey picture", WithChunks(grey, {{"PLTE", two}}), false},
        {"empty transparency", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"PLTE", two}, {"tRNS", {}}}), false},
        {"grey transparency past the depth", WithChunks({4, 3, 0, 2, false, {}, {}, index}, {{"tRNS", {1, 1}}}), false},
        {"more transparency than palette", BuildPng({4, 3, 3, 8, false, two, {1, 2, 3}, index}), false},
        {"transparency before the palette", WithChunks({4, 3, 3, 8, false, {}, {}, index}, {{"tRNS", {1}}, {"PLTE", two}}), false},
        {"transparency of a grey picture of 4 bytes", WithChunks(grey, {{"tRNS", {0, 1, 0, 2}}}), false},
        {"transparency of a colour picture of 2 bytes", WithChunks(rgb, {{"tRNS", {0, 1}}}), false},
        {"transparency of a picture with alpha", WithChunks(rgba, {{"tRNS", {0, 1, 0, 2, 0, 3}}}), false},
        {"two transparency chunks, the first taken", WithChunks(grey, {{"tRNS", {0, 1}}, {"tRNS", {0, 0}}}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PngFile png;
        CImage ours, theirs;
        Trouble trouble = ReadPngFile(c.file.data(), c.file.size(), png);
        if (trouble == Trouble::None)
            trouble = DecodePng(png, 4, ours);
        EXPECT_EQ(trouble != Trouble::None, c.refused);
        EXPECT_EQ(DecodeWithSpng(c.file.data(), c.file.size(), 4, theirs), !c.refused);
        if (!c.refused && trouble == Trouble::None) {
            EXPECT_EQ(Pixels(ours), Pixels(theirs));
        }
    }
}

} // namespace
