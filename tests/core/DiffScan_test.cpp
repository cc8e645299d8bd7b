#include "BmpBuilder.h"
#include "DiffScan.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace {

using Positions = std::vector<std::pair<int, int>>;

Positions ToPositions(const DiffList& list)
{
    Positions out;
    for (int i = 0; i < list.Size(); ++i)
        out.emplace_back(list[i].x, list[i].y);
    return out;
}

// The rule, pixel by pixel, in the plainest form: the oracle for the fast kernels.
Positions ReferenceScan(MemoryImage& a, MemoryImage& b, unsigned tolerance)
{
    Positions out;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            bool differs = false;
            for (int c = 0; c < 3; ++c)
                differs |= unsigned(std::abs(a.At(x, y)[c] - b.At(x, y)[c])) >= tolerance;
            if (differs)
                out.emplace_back(x, y);
        }
    }
    return out;
}

class DiffScanKernel : public testing::TestWithParam<ScanKernel>
{
protected:
    void SetUp() override
    {
        if (!IsScanKernelSupported(GetParam()))
            GTEST_SKIP() << "this processor lacks the kernel";
    }

    int Scan(MemoryImage& a, MemoryImage& b, unsigned tolerance)
    {
        return ScanDifferences(a.Record(), b.Record(), tolerance, m_list, GetParam());
    }

    // The summary of the whole pair, made of two bands split at a third,
    // against the count and bounding box of the listed pixels.
    void ExpectSummary(MemoryImage& a, MemoryImage& b, unsigned tolerance, const Positions& expected)
    {
        DiffSummary summary, lower;
        const int split = a.height / 3;
        ASSERT_EQ(SummarizeDifferences(a.Record(), b.Record(), tolerance, 0, split, summary, GetParam()), 0);
        ASSERT_EQ(SummarizeDifferences(a.Record(), b.Record(), tolerance, split, a.height, lower, GetParam()), 0);
        summary.Merge(lower);
        DiffSummary want;
        want.count = int64_t(expected.size());
        for (const auto& [x, y] : expected) {
            want.left = want.left < 0 || x < want.left ? x : want.left;
            want.right = x > want.right ? x : want.right;
            want.top = want.top < 0 || y < want.top ? y : want.top;
            want.bottom = y > want.bottom ? y : want.bottom;
        }
        ASSERT_EQ(summary.count, want.count) << "tolerance " << tolerance;
        ASSERT_EQ((std::vector<int>{summary.left, summary.top, summary.right, summary.bottom}),
                  (std::vector<int>{want.left, want.top, want.right, want.bottom}))
            << "tolerance " << tolerance;
    }

    DiffList m_list;
};

} // namespace

TEST_P(DiffScanKernel, TestsEachChannelAgainstTheToleranceAlone)
{
    MemoryImage a(41, 2, 100), b(41, 2, 100);
    for (int y = 0; y < 2; ++y)
        b.bytes[size_t(y) * b.stride + 123] = 0;          // padding is not compared
    b.At(3, 0)[2] = 110;                                   // red +10
    b.At(5, 0)[0] = 91, b.At(5, 0)[1] = 91, b.At(5, 0)[2] = 109;  // 9 in each channel
    b.At(40, 1)[0] = 90;                                   // blue -10, last pixel
    b.At(0, 1)[1] = 111;                                   // green +11, first pixel of a row
    struct Case { unsigned tolerance; Positions expected; };
    const Case cases[] = {
        {10, {{3, 0}, {0, 1}, {40, 1}}},
        {9, {{3, 0}, {5, 0}, {0, 1}, {40, 1}}},
        {11, {{0, 1}}},
        {12, {}},
        {256, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tolerance);
        EXPECT_EQ(Scan(a, b, c.tolerance), int(c.expected.size()));
        EXPECT_EQ(ToPositions(m_list), c.expected);
    }
    EXPECT_EQ(Scan(a, b, 0), 82);
}

// Random images of awkward widths, so that pixels straddle the kernels'
// blocks and rows end in every possible tail; the tall ones are read in
// several bands of rows. The same list object serves every scan.
TEST_P(DiffScanKernel, AgreesWithThePlainLoop)
{
    std::mt19937 random(1234);
    for (int width : {1, 2, 5, 10, 11, 16, 21, 22, 31, 43, 64, 65, 100, 257}) {
        for (int density : {0, 1, 20, 100}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", density " << density);
            const int height = width >= 64 ? 1200 + int(random() % 7) : 1 + int(random() % 7);
            MemoryImage a(width, height), b(width, height);
            for (size_t i = 0; i < a.bytes.size(); ++i) {
                a.bytes[i] = b.bytes[i] = uint8_t(random());
                if (int(random() % 100) < density)
                    b.bytes[i] = uint8_t(random());
            }
            for (unsigned tolerance : {0u, 1u, 2u, 17u, 32u, 128u, 255u}) {
                const Positions expected = ReferenceScan(a, b, tolerance);
                ASSERT_EQ(Scan(a, b, tolerance), int(expected.size())) << "tolerance " << tolerance;
                ASSERT_EQ(ToPositions(m_list), expected) << "tolerance " << tolerance;
                ExpectSummary(a, b, tolerance, expected);
            }
        }
    }
}

// Pixels of three or four channels, in rows stored either way up: the
// kernels of both widths against the rule, and the bands of a summary
// numbered from their first row.
TEST_P(DiffScanKernel, AgreesWithThePlainLoopInEveryLayout)
{
    std::mt19937 random(99);
    for (int channels : {3, 4}) {
        for (bool bottomUp : {false, true}) {
            for (int width : {1, 3, 7, 8, 15, 16, 17, 31, 32, 33, 47, 64, 65, 100}) {
                SCOPED_TRACE(testing::Message() << channels << " channels, width " << width << (bottomUp ? ", bottom-up" : ""));
                const int height = width >= 64 ? 2100 : 5;
                const ptrdiff_t step = ptrdiff_t(width) * channels;
                std::vector<uint8_t> a(size_t(step) * size_t(height)), b;
                for (uint8_t& byte : a)
                    byte = uint8_t(random());
                b = a;
                for (uint8_t& byte : b) {
                    if (random() % 50 == 0)
                        byte = uint8_t(byte + 1 + random() % 40);
                }
                const auto view = [&](const std::vector<uint8_t>& pixels) {
                    return bottomUp ? ImageView{width, height, channels, pixels.data() + (height - 1) * step, -step}
                                    : ImageView{width, height, channels, pixels.data(), step};
                };
                const ImageView va = view(a), vb = view(b);
                for (unsigned tolerance : {0u, 1u, 9u, 40u}) {
                    Positions expected;
                    for (int y = 0; y < height; ++y) {
                        for (int x = 0; x < width; ++x) {
                            bool differs = false;
                            for (int c = 0; c < channels; ++c)
                                differs |= unsigned(std::abs(va.Row(y)[channels * x + c] - vb.Row(y)[channels * x + c])) >= tolerance;
                            if (differs)
                                expected.emplace_back(x, y);
                        }
                    }
                    ASSERT_EQ(ScanDifferences(va, vb, tolerance, m_list, GetParam()), int(expected.size())) << tolerance;
                    ASSERT_EQ(ToPositions(m_list), expected) << tolerance;
                    DiffSummary whole, lower;
                    const int split = height / 3;
                    ASSERT_EQ(SummarizeDifferences(va.Rows(0, split), vb.Rows(0, split), tolerance, 0, whole, GetParam()), 0);
                    ASSERT_EQ(SummarizeDifferences(va.Rows(split, height), vb.Rows(split, height), tolerance, split, lower, GetParam()), 0);
                    whole.Merge(lower);
                    ASSERT_EQ(whole.count, int64_t(expected.size())) << tolerance;
                    if (!expected.empty()) {
                        EXPECT_EQ(whole.top, expected.front().second);
                        EXPECT_EQ(whole.bottom, expected.back().second);
                    }
                }
            }
        }
    }
}

std::string KernelName(const testing::TestParamInfo<ScanKernel>& kernel)
{
    const char* const names[] = {"Scalar", "Sse2", "Avx2"};
    return names[int(kernel.param)];
}

INSTANTIATE_TEST_SUITE_P(AllKernels, DiffScanKernel,
                         testing::Values(ScanKernel::Scalar, ScanKernel::Sse2, ScanKernel::Avx2), KernelName);

TEST(DiffScan, RefusesImagesItCannotAddressAndEmptiesTheList)
{
    MemoryImage a(4, 4), b(4, 4, 9), narrow(3, 4, 9), low(4, 3, 9);
    // Too large for 16-bit positions: refused before a byte is read.
    const ImageBuffer wide{65536, 1, BmpStride(65536), nullptr}, tall{1, 65536, BmpStride(1), nullptr};
    std::vector<uint8_t> wideRow(size_t(BmpStride(65535))), otherRow = wideRow;
    otherRow[3 * 65534 + 2] = 1;
    struct Case { const char* name; ImageBuffer first, second; int expected; };
    const Case cases[] = {
        {"widths differ", a.Record(), narrow.Record(), -IDS_SIZE_MISMATCH},
        {"heights differ", a.Record(), low.Record(), -IDS_SIZE_MISMATCH},
        {"wider than 65535", wide, wide, -IDS_IMAGE_TOO_LARGE},
        {"taller than 65535", tall, tall, -IDS_IMAGE_TOO_LARGE},
        {"exactly 65535 wide", {65535, 1, BmpStride(65535), wideRow.data()}, {65535, 1, BmpStride(65535), otherRow.data()}, 1},
        {"width 0", {0, 5, 0, nullptr}, {0, 5, 0, nullptr}, 0},
        {"height 0", {5, 0, 16, nullptr}, {5, 0, 16, nullptr}, 0},
        {"negative width", {-3, 2, -8, nullptr}, {-3, 2, -8, nullptr}, 0},
        {"negative height", {3, -2, 12, nullptr}, {3, -2, 12, nullptr}, 0},
    };
    DiffList list;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 16);
        EXPECT_EQ(ScanDifferences(c.first, c.second, 1, list), c.expected);
        EXPECT_EQ(list.Size(), c.expected > 0 ? c.expected : 0);
    }
}

namespace {

int s_reallocCalls = 0;
size_t s_reallocLimit = 0;

void* CountingRealloc(void* block, size_t bytes)
{
    ++s_reallocCalls;
    if (s_reallocLimit && bytes > s_reallocLimit)
        return nullptr;
    return std::realloc(block, bytes);
}

} // namespace

// Growth by a fixed step would call the allocator once per few records;
// a growing list reallocates a logarithmic number of times, and a scan of
// the same pair again reuses the storage without allocating.
TEST(DiffList, GrowsGeometricallyAndKeepsItsStorage)
{
    s_reallocCalls = 0;
    s_reallocLimit = 0;
    MemoryImage a(300, 300), b(300, 300, 50);
    DiffList list(CountingRealloc);
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 90000);
    EXPECT_LT(s_reallocCalls, 40);
    const int calls = s_reallocCalls;
    const DiffPoint* storage = list.Data();
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 51, list), 0);
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 90000);
    EXPECT_EQ(s_reallocCalls, calls);
    EXPECT_EQ(list.Data(), storage);
    EXPECT_EQ(list[89999].x, 299);
    EXPECT_EQ(list[89999].y, 299);
}

TEST(DiffList, EndsAScanThatRunsOutOfMemoryWithAnEmptyList)
{
    s_reallocLimit = 1000 * sizeof(DiffPoint);
    MemoryImage a(100, 100), b(100, 100, 1);
    DiffList list(CountingRealloc);
    EXPECT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), -IDS_OUT_OF_MEMORY);
    EXPECT_EQ(list.Size(), 0);
    EXPECT_EQ(list.Capacity(), 0);

    // Fewer differences fit, and the list works again.
    b.bytes.assign(b.bytes.size(), 0);
    b.At(99, 0)[0] = 1;
    EXPECT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 1);
    EXPECT_EQ(ToPositions(list), (Positions{{99, 0}}));
    s_reallocLimit = 0;
}
