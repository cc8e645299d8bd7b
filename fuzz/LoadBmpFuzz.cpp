// Feeds arbitrary bytes to the loader (through a file, as the program does)
// and to the header checks over memory (as the command-line comparer does).
// Whatever comes back must obey the record's invariant and be scannable.

#include "BmpFormat.h"
#include "BmpLoader.h"
#include "DiffScan.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::wstring ScratchPath()
{
    const std::string narrow = "/tmp/tobrel-fuzz-" + std::to_string(getpid()) + ".bmp";
    return std::wstring(narrow.begin(), narrow.end());
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BmpLayout layout;
    if (ParseBmpHeaders(data, size, size, layout) == 0) {
        Check(layout.pixelOffset + layout.pixelBytes <= size);
        Check(layout.width > 0 && layout.height > 0);
        // Read the last byte the layout promises; ASan knows the input's end.
        volatile uint8_t last = data[layout.pixelOffset + layout.pixelBytes - 1];
        (void)last;
    }

    static const std::wstring s_path = ScratchPath();
    static const std::string s_narrow(s_path.begin(), s_path.end());
    FILE* file = std::fopen(s_narrow.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    ImageBuffer image;
    const int result = LoadBmpFile(image, s_path.c_str());
    if (result == 0) {
        Check(image.width > 0 && image.height > 0 && image.pixels);
        Check(image.stride == BmpStride(image.width));
        DiffList list;
        Check(ScanDifferences(image, image, 1, list) == 0);
        Check(ScanDifferences(image, image, 0, list) == image.width * image.height);
    } else {
        Check(!image.pixels && image.width == 0 && image.height == 0 && image.stride == 0);
    }
    FreeImageBuffer(image);
    return 0;
}
