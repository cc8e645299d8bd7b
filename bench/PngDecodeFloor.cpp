// The floor under a comparison of two PNG files: decoding both, at once in
// two threads as tobrel-diff does, with libspng row by row in the files'
// own layout (the least work it offers), checksums checked, and nothing
// else.
//   png_decode_floor FIRST.png SECOND.png

#include <spng.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

size_t Decode(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return 0;
    spng_ctx* ctx = spng_ctx_new(0);
    size_t bytes = 0, rows = 0;
    spng_ihdr ihdr = {};
    if (spng_set_png_file(ctx, file) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_PNG, &bytes) == 0 &&
        spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) == 0) {
        std::vector<unsigned char> row(bytes / ihdr.height);
        int status = 0;
        while ((status = spng_decode_row(ctx, row.data(), row.size())) == 0)
            ++rows;
        rows += status == SPNG_EOI;
    }
    spng_ctx_free(ctx);
    std::fclose(file);
    return rows == ihdr.height ? bytes : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: png_decode_floor FIRST.png SECOND.png\n");
        return 2;
    }
    size_t second = 0;
    std::thread other([&] { second = Decode(argv[2]); });
    const size_t first = Decode(argv[1]);
    other.join();
    std::printf("%zu %zu\n", first, second);
    return first && second ? 0 : 1;
}
