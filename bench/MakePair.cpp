// Writes a pair of 24-bit BMP files for the end-to-end benchmarks:
//   make_pair SIDE|WIDTHxHEIGHT PATTERN FIRST.bmp SECOND.bmp [SEED]
// PATTERN is identical, sparse (one pixel in a thousand changed) or dense
// (every other pixel changed); the picture is random, from SEED (42).

#include "BmpFormat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: make_pair SIDE|WIDTHxHEIGHT identical|sparse|dense FIRST.bmp SECOND.bmp [SEED]\n");
        return 2;
    }
    const int side = std::atoi(argv[1]);
    const char* by = std::strchr(argv[1], 'x');
    const int height = by ? std::atoi(by + 1) : side;
    const std::string pattern = argv[2];
    if (side < 1 || side > c_nMaxDimension || height < 1 || height > c_nMaxDimension ||
        (pattern != "identical" && pattern != "sparse" && pattern != "dense")) {
        std::fprintf(stderr, "make_pair: bad size or pattern\n");
        return 2;
    }
    const int32_t stride = BmpStride(side);
    std::vector<unsigned char> first(size_t(stride) * height);
    std::mt19937_64 random(argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 42);
    for (auto& byte : first)
        byte = uint8_t(random());
    std::vector<unsigned char> second = first;
    const uint64_t pixels = uint64_t(side) * height;
    const uint64_t changed = pattern == "identical" ? 0 : pattern == "sparse" ? pixels / 1000 : pixels / 2;
    for (uint64_t k = 0; k < changed; ++k) {
        const uint64_t p = pattern == "dense" ? 2 * k : random() % pixels;
        second[size_t(p / side) * stride + 3 * (p % side) + k % 3] ^= 0x80;
    }
    const ImageBuffer a{side, height, stride, first.data()};
    const ImageBuffer b{side, height, stride, second.data()};
    if (!WriteBmpFile(a, std::fopen(argv[3], "wb")) || !WriteBmpFile(b, std::fopen(argv[4], "wb"))) {
        std::fprintf(stderr, "make_pair: cannot write the files\n");
        return 2;
    }
    return 0;
}
