#include "DiffImage.h"

#include "BmpFormat.h"
#include "PairCompare.h"
#include "Platform.h"
#include "ResultCodes.h"

#include <cstring>
#include <vector>

bool CanWriteDiffImage(const ImageBuffer& first)
{
    unsigned char header[c_cbHeaders];
    return EncodeBmpHeaders(first, header);
}

int WriteDiffImage(const std::string& path, const ImageBuffer& first, const DiffList& list)
{
    unsigned char header[c_cbHeaders];
    if (!EncodeBmpHeaders(first, header))
        return IDS_IMAGE_TOO_LARGE;
    COutputFile out;
    if (!out.Open(path.c_str()) || !out.Write(header, sizeof header))
        return c_nTroubleDiffImage;

    // Stored rows run bottom-up and the list top-down: the list is walked
    // from its end.
    std::vector<unsigned char> row(size_t(first.stride), 0);
    int next = list.Size() - 1;
    bool written = true;
    const bool read = RunGuarded([&] {
        for (int32_t stored = 0; stored < first.height && written; ++stored) {
            const int32_t y = first.height - 1 - stored;
            const unsigned char* source = first.pixels + int64_t(stored) * first.stride;
            for (int32_t i = 0; i < 3 * first.width; ++i)
                row[size_t(i)] = uint8_t(source[i] / 3 + 24);
            for (; next >= 0 && list[next].y == y; --next) {
                unsigned char* p = row.data() + 3 * size_t(list[next].x);
                p[0] = 0;
                p[1] = 0;
                p[2] = 255;
            }
            written = out.Write(row.data(), row.size());
        }
    });
    if (!read)
        return IDS_CANNOT_READ;
    return written && out.Commit() ? 0 : c_nTroubleDiffImage;
}
