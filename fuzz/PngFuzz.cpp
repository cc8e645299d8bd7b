// Feeds arbitrary bytes to the comparer's PNG reading: the header checks,
// then the decoder into both in-memory forms. Whatever comes back must obey
// the record's invariant.

#include "PngCodec.h"

#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PngInfo info;
    if (ReadPngInfo(data, size, info) != 0)
        return 0;
    Check(info.width > 0 && info.height > 0);
    // Pictures within the fuzzer's memory limit only: larger ones are the
    // limit check's business, above.
    if (int64_t(info.width) * info.height > (1 << 22))
        return 0;
    for (const int channels : {3, 4}) {
        ImageBuffer image;
        if (DecodePng(data, size, channels, image) == 0) {
            Check(image.width == info.width && image.height == info.height && image.pixels);
            // Touch the last byte the record promises; ASan knows the block's end.
            volatile unsigned char last = image.pixels[size_t(image.stride) * size_t(image.height) - 1];
            (void)last;
        } else {
            Check(!image.pixels);
        }
        FreeImageBuffer(image);
    }
    return 0;
}
