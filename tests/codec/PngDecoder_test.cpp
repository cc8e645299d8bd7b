// Our PNG decoder's own parts: the unfiltering kernels against the filters'
// definitions, and the image data stream against damaged, cut and padded
// streams, on whichever inflate the build has.

#include "PngBuilder.h"
#include "PngCodec.h"
#include "PngUnfilter.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <random>

namespace {

TEST(PngUnfilter, EveryKernelUndoesEveryFilterForEveryPixelSizeARowOrTwoAtATime)
{
    std::mt19937 random(7);
    for (const UnfilterKernel kernel : {UnfilterKernel::Plain, UnfilterKernel::Sse41, UnfilterKernel::Neon}) {
        if (!IsUnfilterKernelSupported(kernel))
            continue;
        for (const size_t bpp : {1, 2, 3, 4, 6, 8}) {
            for (const size_t pixels : {1, 2, 5, 33}) {
                for (int filter = 0; filter <= 4; ++filter) {
                    SCOPED_TRACE(testing::Message() << "kernel " << int(kernel) << " bpp " << bpp << " pixels " << pixels
                                                    << " filter " << filter);
                    const size_t bytes = bpp * pixels;
                    // Bytes near 0 and 255 as well as any (the average's
                    // carries), and in the second half a few small values
                    // only, where Paeth's distances tie.
                    std::vector<uint8_t> above(bytes), row(bytes), below(bytes);
                    for (size_t i = 0; i < bytes; ++i) {
                        const bool few = i >= bytes / 2;
                        above[i] = uint8_t(few ? random() % 4 : i % 3 == 0 ? 255 - random() % 3 : random());
                        row[i] = uint8_t(few ? random() % 4 : i % 4 == 1 ? random() % 3 : random());
                        below[i] = uint8_t(few ? random() % 4 : i % 5 == 2 ? 255 - random() % 2 : random());
                    }
                    PngSpec spec{int(pixels), 3, 0, 8, false, {}, {}, {}, -1, uint8_t(filter)};
                    spec.samples = [&](int x, int y) {
                        const auto& source = y == 0 ? above : y == 1 ? row : below;
                        return std::vector<uint8_t>(source.begin() + long(size_t(x) * bpp),
                                                    source.begin() + long(size_t(x + 1) * bpp));
                    };
                    const std::vector<uint8_t> raw = RawRows(spec);  // the three rows, filtered
                    // The second row, with slack the kernels may read and
                    // bytes after it they must leave alone.
                    std::vector<uint8_t> prior(above);
                    prior.resize(bytes + c_cbUnfilterSlack, 0xEE);
                    std::vector<uint8_t> unfiltered(raw.begin() + long(bytes + 2), raw.begin() + long(2 * bytes + 2));
                    unfiltered.resize(bytes + c_cbUnfilterSlack, 0xA5);
                    Unfilter(filter, unfiltered.data(), prior.data(), bytes, bpp, kernel);
                    EXPECT_EQ(std::vector<uint8_t>(unfiltered.begin(), unfiltered.begin() + long(bytes)), row);
                    EXPECT_EQ(std::vector<uint8_t>(unfiltered.begin() + long(bytes), unfiltered.end()),
                              std::vector<uint8_t>(c_cbUnfilterSlack, 0xA5));

                    // The last two rows together, as they lie in the decoder's
                    // block: each after its filter type.
                    std::vector<uint8_t> pair(raw.begin() + long(bytes + 1), raw.end());
                    pair.resize(pair.size() + c_cbUnfilterSlack, 0xA5);
                    UnfilterPair(filter, pair.data() + 1, bytes + 1, prior.data(), bytes, bpp, kernel);
                    std::vector<uint8_t> expected{uint8_t(filter)};
                    expected.insert(expected.end(), row.begin(), row.end());
                    expected.push_back(uint8_t(filter));
                    expected.insert(expected.end(), below.begin(), below.end());
                    expected.resize(pair.size(), 0xA5);
                    EXPECT_EQ(pair, expected) << "two rows at once";
                }
            }
        }
    }
}

std::vector<uint8_t> Deflated(const std::vector<uint8_t>& raw)
{
    uLongf size = compressBound(uLong(raw.size()));
    std::vector<uint8_t> z(size);
    compress2(z.data(), &size, raw.data(), uLong(raw.size()), 9);
    z.resize(size);
    return z;
}

// Puts the zlib header's check bits right after a change to its first byte.
std::vector<uint8_t> WithHeader(std::vector<uint8_t> z, uint8_t cmf, uint8_t flags)
{
    z[0] = cmf;
    z[1] = flags;
    z[1] = uint8_t(z[1] + (31 - (cmf * 256 + z[1]) % 31) % 31);
    return z;
}

Trouble Decoded(const std::vector<uint8_t>& file, std::vector<uint8_t>* pixels = nullptr)
{
    PngFile png;
    if (const Trouble trouble = ReadPngFile(file.data(), file.size(), png); trouble != Trouble::None)
        return trouble;
    CImage image;
    const Trouble trouble = DecodePng(png, 3, image);
    if (pixels && trouble == Trouble::None)
        pixels->assign(image.Row(0), image.Row(0) + size_t(png.width) * size_t(png.height) * 3);
    return trouble;
}

TEST(PngImageData, AcceptsWhatDecodersAcceptAndRefusesDamage)
{
    const PngSpec spec{64, 48, 2, 8, false, {}, {}, RgbSamples(Gradient), -1, 5};
    const std::vector<uint8_t> raw = RawRows(spec);
    const std::vector<uint8_t> z = Deflated(raw);
    std::vector<uint8_t> expected;
    ASSERT_EQ(Decoded(BuildPng(spec, z), &expected), Trouble::None);

    auto padded = [&](size_t extra) {
        std::vector<uint8_t> more(raw);
        more.resize(raw.size() + extra, 0);
        return Deflated(more);
    };
    const auto flipped = [](std::vector<uint8_t> bytes, size_t at) {
        bytes.at(at) ^= 1;
        return bytes;
    };
    const std::vector<uint8_t> badAdler = flipped(z, z.size() - 1);
    std::vector<uint8_t> behind = z;
    behind.push_back(0);
    std::vector<uint8_t> cut(z.begin(), z.end() - 6);
    // A file of empty chunks, then the stream one byte a chunk.
    std::vector<uint8_t> manyChunks = BuildPng(spec, z, 1);
    {
        std::vector<uint8_t> empties;
        for (int i = 0; i < 20000; ++i)
            PutChunk(empties, "IDAT", {});
        const size_t first = 8 + 25;  // after the header chunk
        manyChunks.insert(manyChunks.begin() + long(first), empties.begin(), empties.end());
    }
    std::vector<uint8_t> emptyAfter = BuildPng(spec, z);
    std::vector<uint8_t> badEmptyAfter = emptyAfter;
    {
        std::vector<uint8_t> empty;
        PutChunk(empty, "IDAT", {});
        emptyAfter.insert(emptyAfter.end() - 12, empty.begin(), empty.end());
        empty[11] ^= 1;
        badEmptyAfter.insert(badEmptyAfter.end() - 12, empty.begin(), empty.end());
    }
    std::vector<uint8_t> dataAfter = BuildPng(spec, z);
    {
        std::vector<uint8_t> more;
        PutChunk(more, "IDAT", {0});
        dataAfter.insert(dataAfter.end() - 12, more.begin(), more.end());
    }
    std::vector<uint8_t> apart = BuildPng(spec, z, z.size() / 2 + 1);
    {
        // A text chunk between the two image data chunks.
        const size_t second = 8 + 25 + 12 + z.size() / 2 + 1;
        std::vector<uint8_t> text;
        PutChunk(text, "tEXt", {'k', 0, 'v'});
        apart.insert(apart.begin() + long(second), text.begin(), text.end());
    }

    struct Case { const char* name; std::vector<uint8_t> file; Trouble expected; };
    const Case cases[] = {
        {"the zlib header split between chunks", BuildPng(spec, z, 1), Trouble::None},
        {"thousands of empty chunks", manyChunks, Trouble::None},
        {"an empty chunk after the stream", emptyAfter, Trouble::None},
        {"a little more than the rows", BuildPng(spec, padded(1000)), Trouble::None},
        {"rows of the slack's size after the rows", BuildPng(spec, padded(size_t(c_cbImageDataSlack))), Trouble::None},
        {"more than the slack after the rows", BuildPng(spec, padded(size_t(c_cbImageDataSlack) + 1)), Trouble::PngDamaged},
        {"sixty-four megabytes after the rows", BuildPng(spec, padded(64 << 20)), Trouble::PngDamaged},
        {"a row missing", BuildPng(spec, Deflated({raw.begin(), raw.end() - 193})), Trouble::PngDamaged},
        {"a byte missing", BuildPng(spec, Deflated({raw.begin(), raw.end() - 1})), Trouble::PngDamaged},
        {"a preset dictionary", BuildPng(spec, WithHeader(z, 0x78, 0x20)), Trouble::PngDamaged},
        {"a window over 32 KiB", BuildPng(spec, WithHeader(z, 0x88, 0)), Trouble::PngDamaged},
        {"a method other than deflate", BuildPng(spec, WithHeader(z, 0x77, 0)), Trouble::PngDamaged},
        {"a header of another compression level", BuildPng(spec, WithHeader(z, 0x78, 0xC0)), Trouble::None},
        {"a wrong Adler-32", BuildPng(spec, badAdler), Trouble::PngDamaged},
        {"a byte after the stream", BuildPng(spec, behind), Trouble::PngDamaged},
        {"the stream cut short", BuildPng(spec, cut), Trouble::PngDamaged},
        {"an empty chunk with a wrong checksum after the stream", badEmptyAfter, Trouble::PngDamaged},
        {"an image data chunk after the stream", dataAfter, Trouble::PngDamaged},
        {"image data chunks apart", apart, Trouble::PngDamaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pixels;
        EXPECT_EQ(Decoded(c.file, &pixels), c.expected);
        if (c.expected == Trouble::None) {
            EXPECT_EQ(pixels, expected);
        }
    }
    std::vector<uint8_t> wrongCheck = WithHeader(z, 0x78, 0);
    wrongCheck[1] ^= 1;
    EXPECT_EQ(Decoded(BuildPng(spec, wrongCheck)), Trouble::PngDamaged);
}

} // namespace
