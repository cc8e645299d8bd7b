// Writes a pair of 24-bit BMP files for the end-to-end benchmarks:
//   make_pair SIDE PATTERN FIRST.bmp SECOND.bmp
// PATTERN is identical, sparse (one pixel in a thousand changed) or dense
// (every other pixel changed); the picture is random.

#include "BmpFormat.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_pair SIDE identical|sparse|dense FIRST.bmp SECOND.bmp\n");
        return 2;
    }
    const int side = std::atoi(argv[1]);
    const std::string pattern = argv[2];
    if (side < 1 || side > c_nMaxDimension || (pattern != "identical" && pattern != "sparse" && pattern != "dense")) {
        std::fprintf(stderr, "make_pair: bad side or pattern\n");
        return 2;
    }
    const int32_t stride = BmpStride(side);
    std::vector<unsigned char> first(size_t(stride) * side);
    std::mt19937_64 random(42);
    for (auto& byte : first)
        byte = uint8_t(random());
    std::vector<unsigned char> second = first;
    const uint64_t pixels = uint64_t(side) * side;
    const uint64_t changed = pattern == "identical" ? 0 : pattern == "sparse" ? pixels / 1000 : pixels / 2;
    for (uint64_t k = 0; k < changed; ++k) {
        const uint64_t p = pattern == "dense" ? 2 * k : random() % pixels;
        second[size_t(p / side) * stride + 3 * (p % side) + k % 3] ^= 0x80;
    }
    const ImageBuffer a{side, side, stride, first.data()};
    const ImageBuffer b{side, side, stride, second.data()};
    if (!WriteBmpFile(a, std::fopen(argv[3], "wb")) || !WriteBmpFile(b, std::fopen(argv[4], "wb"))) {
        std::fprintf(stderr, "make_pair: cannot write the files\n");
        return 2;
    }
    return 0;
}
