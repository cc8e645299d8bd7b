// Writes a pair of 24-bit BMP files for the end-to-end benchmarks:
//   make_pair SIDE|WIDTHxHEIGHT PATTERN FIRST.bmp SECOND.bmp [SEED]
// PATTERN is identical, sparse (one pixel in a thousand changed) or dense
// (every other pixel changed), on a random picture from SEED (42); or region:
// a picture like a screen (flat tiles, a few random pixels) with a rectangle
// of one percent of its pixels changed. Names ending in .png are written as
// PNG.

#include "BmpFormat.h"
#include "RowSink.h"

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
        (pattern != "identical" && pattern != "sparse" && pattern != "dense" && pattern != "region")) {
        std::fprintf(stderr, "make_pair: bad size or pattern\n");
        return 2;
    }
    const int32_t stride = BmpStride(side);
    std::vector<unsigned char> first(size_t(stride) * height);
    std::mt19937_64 random(argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 42);
    if (pattern == "region") {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < side; ++x) {
                unsigned char* p = first.data() + size_t(y) * stride + 3 * size_t(x);
                const unsigned tile = unsigned(x / 64 * 31 + y / 48 * 17);
                for (int c = 0; c < 3; ++c)
                    p[c] = uint8_t(tile * (c + 3) * 37);
                if (random() % 50 == 0)
                    p[random() % 3] = uint8_t(random());
            }
        }
    } else {
        for (auto& byte : first)
            byte = uint8_t(random());
    }
    std::vector<unsigned char> second = first;
    if (pattern == "region") {
        // A tenth of each side: a hundredth of the pixels.
        for (int y = height * 4 / 10; y < height * 5 / 10; ++y) {
            for (int x = side * 4 / 10; x < side * 5 / 10; ++x)
                second[size_t(y) * stride + 3 * size_t(x)] ^= 0x40;
        }
    }
    const uint64_t pixels = uint64_t(side) * height;
    const uint64_t changed = pattern == "identical" || pattern == "region" ? 0
                             : pattern == "sparse"                        ? pixels / 1000
                                                                          : pixels / 2;
    for (uint64_t k = 0; k < changed; ++k) {
        const uint64_t p = pattern == "dense" ? 2 * k : random() % pixels;
        second[size_t(p / side) * stride + 3 * (p % side) + k % 3] ^= 0x80;
    }
    const auto write = [&](const std::vector<unsigned char>& picture, const char* name) {
        const std::string path = name;
        if (path.size() < 4 || path.compare(path.size() - 4, 4, ".png") != 0)
            return WriteBmpFile(ImageBuffer{side, height, stride, const_cast<unsigned char*>(picture.data())},
                                std::fopen(name, "wb"));
        FILE* file = std::fopen(name, "wb");
        if (!file)
            return false;
        const auto sink = NewPngSink([&](const void* bytes, size_t count) { return std::fwrite(bytes, 1, count, file) == count; },
                                     side, height, 3);
        bool ok = true;
        // The rows are stored bottom up.
        for (int y = 0; y < height && ok; ++y)
            ok = sink->Row(picture.data() + size_t(height - 1 - y) * stride);
        ok = sink->Finish() && ok;
        return std::fclose(file) == 0 && ok;
    };
    if (!write(first, argv[3]) || !write(second, argv[4])) {
        std::fprintf(stderr, "make_pair: cannot write the files\n");
        return 2;
    }
    return 0;
}
