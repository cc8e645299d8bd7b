#include "BmpLoader.h"

#include "BmpFormat.h"
#include "FileInput.h"
#include "ResultCodes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

void FreeImageBuffer(ImageBuffer& image)
{
    std::free(image.pixels);
    image = ImageBuffer();
}

void FlipRows(unsigned char* pixels, int32_t stride, int32_t height)
{
    unsigned char scratch[4096];
    unsigned char* top = pixels;
    unsigned char* bottom = pixels + int64_t(height - 1) * stride;
    for (; top < bottom; top += stride, bottom -= stride) {
        for (int32_t done = 0; done < stride;) {
            const size_t chunk = std::min(size_t(stride - done), sizeof scratch);
            std::memcpy(scratch, top + done, chunk);
            std::memcpy(top + done, bottom + done, chunk);
            std::memcpy(bottom + done, scratch, chunk);
            done += int32_t(chunk);
        }
    }
}

int LoadBmpFile(ImageBuffer& image, const wchar_t* path)
{
    FreeImageBuffer(image);

    CFileInput file;
    if (!file.Open(path))
        return IDS_CANNOT_READ;

    // The headers come in as two blocks, the file header and then the info
    // header; the file is read strictly forwards from there.
    unsigned char head[c_cbHeaders];
    size_t got = file.Read(head, c_cbFileHeader);
    if (got == c_cbFileHeader)
        got += file.Read(head + c_cbFileHeader, c_cbInfoHeader);
    if (got < c_cbHeaders && got < file.Size())
        return IDS_CANNOT_READ;  // the file was there but its bytes could not be read

    BmpLayout layout;
    if (const int result = ParseBmpHeaders(head, got, file.Size(), layout))
        return result;

    // Larger info headers, a colour table or a gap come before the rows.
    if (!file.Skip(layout.pixelOffset - c_cbHeaders))
        return IDS_CANNOT_READ;

    const size_t bytes = size_t(layout.pixelBytes);
    auto* pixels = static_cast<unsigned char*>(std::malloc(bytes));
    if (!pixels)
        return IDS_OUT_OF_MEMORY;
    if (file.Read(pixels, bytes) != bytes) {
        std::free(pixels);
        return IDS_CANNOT_READ;
    }
    if (layout.bTopDown)
        FlipRows(pixels, layout.stride, layout.height);

    image.width = layout.width;
    image.height = layout.height;
    image.stride = layout.stride;
    image.pixels = pixels;
    return 0;
}
