#include "DiffScan.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace {

// An image held in a vector, addressed like a loaded file: rows bottom-up.
struct TestImage
{
    TestImage(int w, int h, uint8_t fill = 0)
        : width(w), height(h), stride((w * 3 + 3) / 4 * 4), bytes(size_t(stride) * h, fill) {}

    uint8_t* At(int x, int y) { return bytes.data() + size_t(height - 1 - y) * stride + 3 * x; }
    ImageBuffer Record() { return {width, height, stride, bytes.data()}; }

    int width, height, stride;
    std::vector<uint8_t> bytes;
};

using Positions = std::vector<std::pair<int, int>>;

Positions ToPositions(const DiffList& list)
{
    Positions out;
    for (int i = 0; i < list.Size(); ++i)
        out.emplace_back(list[i].x, list[i].y);
    return out;
}

// The rule, pixel by pixel, in the plainest form: the oracle for the fast kernels.
Positions ReferenceScan(const TestImage& a, const TestImage& b, unsigned tolerance)
{
    Positions out;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const size_t o = size_t(a.height - 1 - y) * a.stride + 3 * x;
            bool differs = false;
            for (int c = 0; c < 3; ++c)
                differs |= unsigned(std::abs(a.bytes[o + c] - b.bytes[o + c])) >= tolerance;
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

    int Scan(TestImage& a, TestImage& b, unsigned tolerance, DiffList& list)
    {
        return ScanDifferences(a.Record(), b.Record(), tolerance, list, GetParam());
    }
};

} // namespace

TEST_P(DiffScanKernel, FindsNothingInEqualImagesOrTheirPadding)
{
    TestImage a(5, 4, 77), b(5, 4, 77);
    for (int y = 0; y < 4; ++y)
        b.bytes[size_t(y) * b.stride + 15] = 0;  // the one padding byte of each row
    DiffList list;
    EXPECT_EQ(Scan(a, b, 1, list), 0);
    EXPECT_EQ(list.Size(), 0);
}

TEST_P(DiffScanKernel, TestsEachChannelAgainstTheToleranceAlone)
{
    TestImage a(40, 2, 100), b(40, 2, 100);
    b.At(3, 0)[2] = 110;                                   // red +10
    b.At(5, 0)[0] = 91, b.At(5, 0)[1] = 91, b.At(5, 0)[2] = 109;  // 9 in each channel
    b.At(39, 1)[0] = 90;                                   // blue -10, last pixel
    DiffList list;
    EXPECT_EQ(Scan(a, b, 10, list), 2);
    EXPECT_EQ(ToPositions(list), (Positions{{3, 0}, {39, 1}}));
    EXPECT_EQ(Scan(a, b, 9, list), 3);
    EXPECT_EQ(Scan(a, b, 11, list), 0);
    EXPECT_EQ(Scan(a, b, 256, list), 0);
    EXPECT_EQ(Scan(a, b, 0, list), 80);
}

TEST_P(DiffScanKernel, ListsTopRowFirstThenLeftToRight)
{
    TestImage a(3, 2), b(3, 2);
    b.At(0, 1)[1] = 1;
    b.At(2, 0)[0] = 1;
    DiffList list;
    ASSERT_EQ(Scan(a, b, 1, list), 2);
    EXPECT_EQ(ToPositions(list), (Positions{{2, 0}, {0, 1}}));
}

TEST_P(DiffScanKernel, ReplacesTheListOnEveryScan)
{
    TestImage a(50, 9), b(50, 9);
    std::mt19937 random(7);
    for (auto& byte : b.bytes)
        byte = uint8_t(random() % 40);
    DiffList list;
    const int loose = Scan(a, b, 1, list);
    const Positions first = ToPositions(list);
    EXPECT_EQ(Scan(a, b, 1, list), loose);
    EXPECT_EQ(ToPositions(list), first);

    const int strict = Scan(a, b, 32, list);
    EXPECT_LT(strict, loose);
    EXPECT_GT(strict, 0);
    const Positions subset = ToPositions(list);
    // The strict list is the loose one with records left out, order kept.
    size_t at = 0;
    for (const auto& p : subset) {
        while (at < first.size() && first[at] != p)
            ++at;
        ASSERT_LT(at, first.size()) << p.first << "," << p.second;
    }
}

// Random images of awkward widths, so that pixels straddle the kernels'
// blocks and rows end in every possible tail; the tall ones are read in
// several bands of rows.
TEST_P(DiffScanKernel, AgreesWithThePlainLoop)
{
    std::mt19937 random(1234);
    for (int width : {1, 2, 5, 10, 11, 16, 21, 22, 31, 43, 64, 65, 100, 257}) {
        for (int density : {0, 1, 20, 100}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", density " << density);
            const int height = width >= 64 ? 1200 + int(random() % 7) : 1 + int(random() % 7);
            TestImage a(width, height), b(width, height);
            for (size_t i = 0; i < a.bytes.size(); ++i) {
                a.bytes[i] = b.bytes[i] = uint8_t(random());
                if (int(random() % 100) < density)
                    b.bytes[i] = uint8_t(random());
            }
            for (unsigned tolerance : {0u, 1u, 2u, 17u, 32u, 128u, 255u}) {
                DiffList list;
                const Positions expected = ReferenceScan(a, b, tolerance);
                ASSERT_EQ(Scan(a, b, tolerance, list), int(expected.size())) << "tolerance " << tolerance;
                ASSERT_EQ(ToPositions(list), expected) << "tolerance " << tolerance;
            }
        }
    }
}

std::string KernelName(const testing::TestParamInfo<ScanKernel>& kernel)
{
    switch (kernel.param) {
    case ScanKernel::Scalar: return "Scalar";
    case ScanKernel::Sse2: return "Sse2";
    case ScanKernel::Avx2: return "Avx2";
    }
    return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(AllKernels, DiffScanKernel,
                         testing::Values(ScanKernel::Scalar, ScanKernel::Sse2, ScanKernel::Avx2),
                         KernelName);

TEST(DiffScan, RefusesImagesItCannotAddress)
{
    TestImage a(4, 4), b(4, 4, 9), narrow(3, 4, 9);
    DiffList list;
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 16);

    EXPECT_EQ(ScanDifferences(a.Record(), narrow.Record(), 1, list), -IDS_SIZE_MISMATCH);
    EXPECT_EQ(list.Size(), 0);

    // Too large for 16-bit positions: refused before a byte is read.
    const ImageBuffer wide{65536, 1, BmpStride(65536), nullptr};
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 16);
    EXPECT_EQ(ScanDifferences(wide, wide, 1, list), -IDS_IMAGE_TOO_LARGE);
    EXPECT_EQ(list.Size(), 0);

    for (const ImageBuffer empty : {ImageBuffer{0, 5, 0, nullptr}, ImageBuffer{5, 0, 16, nullptr},
                                    ImageBuffer{-3, 2, -8, nullptr}, ImageBuffer{3, -2, 12, nullptr}}) {
        ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 16);
        EXPECT_EQ(ScanDifferences(empty, empty, 1, list), 0);
        EXPECT_EQ(list.Size(), 0);
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

TEST(DiffList, GrowsByHalfItsCapacity)
{
    DiffList list;
    std::vector<int> capacities;
    for (int i = 0; i < 42; ++i) {
        ASSERT_TRUE(list.Append({uint16_t(i), 0}));
        if (capacities.empty() || capacities.back() != list.Capacity())
            capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{1, 2, 3, 4, 6, 9, 13, 19, 28, 42}));
    for (int i = 0; i < 42; ++i)
        ASSERT_EQ(list[i].x, i);
}

TEST(DiffList, KeepsItsStorageFromScanToScan)
{
    s_reallocCalls = 0;
    s_reallocLimit = 0;
    TestImage a(30, 30), b(30, 30, 50);
    DiffList list(CountingRealloc);
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 900);
    const int calls = s_reallocCalls;
    const DiffPoint* storage = list.Data();
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 900);
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 51, list), 0);
    ASSERT_EQ(ScanDifferences(a.Record(), b.Record(), 1, list), 900);
    EXPECT_EQ(s_reallocCalls, calls);
    EXPECT_EQ(list.Data(), storage);
}

TEST(DiffList, EndsAScanThatRunsOutOfMemoryWithAnEmptyList)
{
    s_reallocCalls = 0;
    s_reallocLimit = 1000 * sizeof(DiffPoint);
    TestImage a(100, 100), b(100, 100, 1);
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
