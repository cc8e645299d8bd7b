// Feeds arbitrary bytes to the row sources of JPEG, WebP, TIFF and GIF (and
// whatever else the first bytes name): opened, then read band by band in
// both forms the comparison takes. Whatever comes back must be a trouble, or
// every row of the size the header gave; never a crash, a read outside a
// buffer or a leak. Pictures too large to read here quickly are opened only.

#include "ImageFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string s_path = "/tmp/tobrel-fuzz-formats-" + std::to_string(getpid());
    FILE* file = std::fopen(s_path.c_str(), "wb");
    if (!file)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written)
        return 0;

    CImageFile image;
    if (image.Open(s_path) != Trouble::None)
        return 0;
    Check(image.Width() > 0 && image.Height() > 0 && image.Width() <= 65535 && image.Height() <= 65535);
    const uint64_t pixels = uint64_t(image.Width()) * uint64_t(image.Height());
    if (pixels > (1u << 22) || image.StartMemory(4) > (64u << 20))
        return 0;
    for (int channels : {4, 3}) {
        const size_t bytes = size_t(image.Width()) * size_t(channels);
        const int32_t band = 7;
        std::vector<uint8_t> rows(bytes * band);
        Trouble trouble = image.Start(channels);
        for (int32_t top = 0; top < image.Height() && trouble == Trouble::None; top += band)
            trouble = image.Next(std::min(band, image.Height() - top), rows.data());
        if (trouble == Trouble::None)
            trouble = image.Finish();
    }
    return 0;
}
