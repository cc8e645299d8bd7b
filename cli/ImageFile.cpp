#include "ImageFile.h"

#include "BmpFormat.h"
#include "BmpLoader.h"
#include "ResultCodes.h"

#include <cstdlib>
#include <cstring>

void CImageFile::FreeDeleter::operator()(unsigned char* p) const
{
    std::free(p);
}

int CImageFile::Open(const std::string& path)
{
    if (!m_bytes.Open(path.c_str()))
        return IDS_CANNOT_READ;
    BmpLayout layout;
    int result = 0;
    const size_t available = m_bytes.Size() < c_cbHeaders ? size_t(m_bytes.Size()) : c_cbHeaders;
    if (!RunGuarded([&] { result = ParseBmpHeaders(m_bytes.Data(), available, m_bytes.Size(), layout); }))
        return IDS_CANNOT_READ;
    if (result)
        return result;

    const unsigned char* rows = m_bytes.Data() + layout.pixelOffset;
    if (layout.bTopDown) {
        m_pFlipped.reset(static_cast<unsigned char*>(std::malloc(size_t(layout.pixelBytes))));
        if (!m_pFlipped)
            return IDS_OUT_OF_MEMORY;
        unsigned char* copy = m_pFlipped.get();
        if (!RunGuarded([&] { std::memcpy(copy, rows, size_t(layout.pixelBytes)); }))
            return IDS_CANNOT_READ;
        FlipRows(copy, layout.stride, layout.height);
        rows = copy;
    }
    // The scan only reads; the record never frees this view.
    m_image = {layout.width, layout.height, layout.stride, const_cast<unsigned char*>(rows)};
    return 0;
}
