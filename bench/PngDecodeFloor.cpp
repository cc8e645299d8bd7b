// The floor under a comparison of two PNG files: decoding both, at once in
// two threads as tobrel-diff does, with libspng into 8-bit RGBA, and
// nothing else.
//   png_decode_floor FIRST.png SECOND.png

#include <spng.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

size_t Decode(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    spng_ctx* ctx = spng_ctx_new(0);
    size_t bytes = 0;
    std::vector<unsigned char> image;
    if (spng_set_png_buffer(ctx, file.data(), file.size()) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &bytes) == 0) {
        image.resize(bytes);
        if (spng_decode_image(ctx, image.data(), bytes, SPNG_FMT_RGBA8, 0) != 0)
            bytes = 0;
    }
    spng_ctx_free(ctx);
    return bytes;
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
