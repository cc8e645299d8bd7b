#include "ImageFile.h"

#include "BmpLoader.h"
#include "PngCodec.h"
#include "ResultCodes.h"

#include <cstdlib>
#include <cstring>
#include <vector>

CImageFile::~CImageFile()
{
    std::free(m_pOwned);
}

int CImageFile::Open(const std::string& path)
{
    if (!m_bytes.Open(path.c_str()))
        return IDS_CANNOT_READ;
    int result = 0;
    const bool read = RunGuarded([&] {
        m_bPng = IsPng(m_bytes.Data(), size_t(m_bytes.Size()));
        if (m_bPng) {
            PngInfo info;
            result = ReadPngInfo(m_bytes.Data(), size_t(m_bytes.Size()), info);
            m_nWidth = info.width;
            m_nHeight = info.height;
            m_bAlpha = info.bAlpha;
        } else {
            const size_t available = m_bytes.Size() < c_cbHeaders ? size_t(m_bytes.Size()) : c_cbHeaders;
            result = ParseBmpHeaders(m_bytes.Data(), available, m_bytes.Size(), m_layout);
            m_nWidth = m_layout.width;
            m_nHeight = m_layout.height;
        }
    });
    return read ? result : IDS_CANNOT_READ;
}

int CImageFile::Decode(int channels)
{
    if (m_bPng) {
        // The decoder works on a copy: a file cut short under it then ends
        // the copy, never the decoder halfway.
        std::vector<unsigned char> copy;
        try {
            copy.resize(size_t(m_bytes.Size()));
        } catch (const std::bad_alloc&) {
            return IDS_OUT_OF_MEMORY;
        }
        if (!RunGuarded([&] { std::memcpy(copy.data(), m_bytes.Data(), copy.size()); }))
            return IDS_CANNOT_READ;
        ImageBuffer decoded;
        if (const int result = DecodePng(copy.data(), copy.size(), channels, decoded))
            return result;
        m_image = decoded;
        m_pOwned = decoded.pixels;
        return 0;
    }

    const BmpLayout& layout = m_layout;
    const unsigned char* rows = m_bytes.Data() + layout.pixelOffset;
    const int32_t stride = channels == 3 ? layout.stride : 4 * layout.width;
    if (channels == 3 && !layout.bTopDown) {
        // The scan only reads; the record never frees this view.
        m_image = {layout.width, layout.height, layout.stride, const_cast<unsigned char*>(rows)};
        return 0;
    }
    m_pOwned = static_cast<unsigned char*>(std::malloc(size_t(stride) * size_t(layout.height)));
    if (!m_pOwned)
        return IDS_OUT_OF_MEMORY;
    unsigned char* const target = m_pOwned;
    const bool read = RunGuarded([&] {
        for (int32_t r = 0; r < layout.height; ++r) {
            // Stored row r of a top-down file is picture row r: bottom-up it goes last.
            const unsigned char* source = rows + int64_t(layout.bTopDown ? layout.height - 1 - r : r) * layout.stride;
            unsigned char* to = target + int64_t(r) * stride;
            if (channels == 3) {
                std::memcpy(to, source, size_t(stride));
                continue;
            }
            for (int32_t x = 0; x < layout.width; ++x, to += 4, source += 3) {
                to[0] = source[0];
                to[1] = source[1];
                to[2] = source[2];
                to[3] = 255;
            }
        }
    });
    if (!read)
        return IDS_CANNOT_READ;
    m_image = {layout.width, layout.height, stride, m_pOwned};
    return 0;
}
