// How near our PNG decoder comes to its floor: the time to decode one file
// row by row (as the comparer does: checksums checked, rows unfiltered, in
// the file's own colour order) against the time ISA-L alone takes to
// inflate the same image data, from memory into memory, nothing checked. Each is
// the best of RUNS runs, in one process.
//   png_decode_floor FILE.png [RUNS]

#include "ImageFile.h"

#include <isa-l/igzip_lib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

double Milliseconds(const std::chrono::steady_clock::time_point& start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

uint32_t Big32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The image data chunks' contents, joined.
std::vector<uint8_t> ImageData(const std::vector<uint8_t>& file)
{
    std::vector<uint8_t> data;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = Big32(&file[at]);
        if (length > file.size() - at - 12)
            break;
        if (std::equal(&file[at + 4], &file[at + 8], "IDAT"))
            data.insert(data.end(), &file[at + 8], &file[at + 8 + length]);
        at += 12 + length;
    }
    return data;
}

// Inflates the stream (after its two-byte header) into `out`; the bytes it gave.
size_t Inflate(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out)
{
    inflate_state state;
    isal_inflate_init(&state);
    state.next_in = const_cast<uint8_t*>(stream.data()) + 2;
    state.avail_in = uint32_t(stream.size() - 2);
    state.next_out = out.data();
    state.avail_out = uint32_t(out.size());
    isal_inflate_stateless(&state);
    return state.total_out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: png_decode_floor FILE.png [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    double decode = 1e30, inflate = 1e30;
    size_t inflated = 0;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        CImageFile file;
        if (file.Open(argv[1]) != Trouble::None || file.Start(3, true) != Trouble::None) {
            std::fprintf(stderr, "%s: cannot be decoded\n", argv[1]);
            return 1;
        }
        const int32_t rows = std::max(1, int32_t((1 << 20) / (size_t(file.Width()) * 3)));
        std::vector<uint8_t> band(size_t(rows) * size_t(file.Width()) * 3);
        for (int32_t y = 0; y < file.Height(); y += rows) {
            if (file.Next(std::min(rows, file.Height() - y), band.data()) != Trouble::None)
                return 1;
        }
        if (file.Finish() != Trouble::None)
            return 1;
        decode = std::min(decode, Milliseconds(start));

        std::ifstream in(argv[1], std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // The image data joined and the output's pages touched beforehand:
        // only the inflate is timed.
        const std::vector<uint8_t> stream = ImageData(bytes);
        std::vector<uint8_t> out(size_t(file.Height()) * (size_t(file.Width()) * 4 + 1) + (1 << 20), 1);
        start = std::chrono::steady_clock::now();
        inflated = Inflate(stream, out);
        inflate = std::min(inflate, Milliseconds(start));
    }
    std::printf("decode %.2f ms, inflate alone %.2f ms (%zu bytes): %.2fx\n", decode, inflate, inflated,
                decode / inflate);
    return 0;
}
