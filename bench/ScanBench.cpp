// The scan against memcmp over the same two buffers, the yardstick: reading
// both pixel buffers once is the least any comparison can do.
//
//   build/native/bin/scan_bench            (bench/scan-report prints the ratios)

#include "DiffScan.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

enum Pattern { Identical, Sparse, Dense };

struct Pair
{
    int side;
    int32_t stride;
    std::vector<unsigned char> first, second;

    ImageBuffer Record(std::vector<unsigned char>& bytes) { return {side, side, stride, bytes.data()}; }
};

// Random pictures, so that no branch predictor learns the data; Sparse
// changes one pixel in a thousand, Dense one in two.
Pair& GetPair(int side, Pattern pattern)
{
    static std::map<std::pair<int, int>, std::unique_ptr<Pair>> s_pairs;
    auto& slot = s_pairs[{side, pattern}];
    if (!slot) {
        slot = std::make_unique<Pair>();
        Pair& pair = *slot;
        pair.side = side;
        pair.stride = BmpStride(side);
        const size_t bytes = size_t(pair.stride) * side;
        pair.first.resize(bytes);
        std::mt19937_64 random(side);
        for (size_t i = 0; i < bytes; i += 8) {
            const uint64_t word = random();
            std::memcpy(&pair.first[i], &word, std::min<size_t>(8, bytes - i));
        }
        pair.second = pair.first;
        const uint64_t pixels = uint64_t(side) * side;
        const uint64_t changed = pattern == Identical ? 0 : pattern == Sparse ? pixels / 1000 : pixels / 2;
        for (uint64_t k = 0; k < changed; ++k) {
            const uint64_t p = pattern == Dense ? k * 2 : random() % pixels;
            const size_t at = size_t(p / side) * pair.stride + 3 * (p % side) + k % 3;
            pair.second[at] ^= 0x80;
        }
    }
    return *slot;
}

void Report(benchmark::State& state, const Pair& pair)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pair.first.size() * 2));
}

void BM_Memcmp(benchmark::State& state)
{
    Pair& pair = GetPair(int(state.range(0)), Identical);
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memcmp(pair.first.data(), pair.second.data(), pair.first.size()));
    Report(state, pair);
}

void Scan(benchmark::State& state, Pattern pattern, ScanKernel kernel)
{
    Pair& pair = GetPair(int(state.range(0)), pattern);
    if (!IsScanKernelSupported(kernel)) {
        state.SkipWithError("kernel not supported here");
        return;
    }
    // The list grows during the first scan only; time the scans after it.
    DiffList list;
    int count = ScanDifferences(pair.Record(pair.first), pair.Record(pair.second), 1, list, kernel);
    for (auto _ : state) {
        count = ScanDifferences(pair.Record(pair.first), pair.Record(pair.second), 1, list, kernel);
        benchmark::DoNotOptimize(count);
    }
    state.counters["differences"] = count;
    Report(state, pair);
}

ScanKernel Best()
{
    return IsScanKernelSupported(ScanKernel::Avx2) ? ScanKernel::Avx2 : ScanKernel::Sse2;
}

void BM_ScanIdentical(benchmark::State& state) { Scan(state, Identical, Best()); }
void BM_ScanSparse(benchmark::State& state) { Scan(state, Sparse, Best()); }
void BM_ScanDense(benchmark::State& state) { Scan(state, Dense, Best()); }
void BM_ScanSse2Identical(benchmark::State& state) { Scan(state, Identical, ScanKernel::Sse2); }
void BM_ReferenceIdentical(benchmark::State& state) { Scan(state, Identical, ScanKernel::Scalar); }
void BM_ReferenceSparse(benchmark::State& state) { Scan(state, Sparse, ScanKernel::Scalar); }
void BM_ReferenceDense(benchmark::State& state) { Scan(state, Dense, ScanKernel::Scalar); }

} // namespace

#define SIDES ->Arg(4096)->Arg(8192)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_Memcmp) SIDES;
BENCHMARK(BM_ScanIdentical) SIDES;
BENCHMARK(BM_ScanSparse) SIDES;
BENCHMARK(BM_ScanDense) SIDES;
BENCHMARK(BM_ScanSse2Identical) SIDES;
BENCHMARK(BM_ReferenceIdentical) SIDES;
BENCHMARK(BM_ReferenceSparse) SIDES;
BENCHMARK(BM_ReferenceDense) SIDES;

BENCHMARK_MAIN();
