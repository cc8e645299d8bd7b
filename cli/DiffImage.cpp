#include "DiffImage.h"

#include "BmpFormat.h"
#include "PairCompare.h"
#include "Platform.h"
#include "PngCodec.h"
#include "ResultCodes.h"

#include <cctype>
#include <vector>

namespace {

bool WantsPng(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png";
}

// The rows of the difference image, asked for in either order: the list is
// walked forwards for rows from the top, backwards for rows from the bottom.
class CDiffRows
{
public:
    CDiffRows(const ImageBuffer& first, int channels, const DiffList& list, bool fromTop)
        : m_first(first), m_nChannels(channels), m_list(list), m_nNext(fromTop ? 0 : list.Size() - 1),
          m_nStep(fromTop ? 1 : -1)
    {
    }

    void Row(int32_t y, unsigned char* bgr)
    {
        const unsigned char* source = m_first.pixels + int64_t(m_first.height - 1 - y) * m_first.stride;
        for (int32_t x = 0; x < m_first.width; ++x, source += m_nChannels, bgr += 3) {
            bgr[0] = uint8_t(source[0] / 3 + 24);
            bgr[1] = uint8_t(source[1] / 3 + 24);
            bgr[2] = uint8_t(source[2] / 3 + 24);
        }
        bgr -= 3 * size_t(m_first.width);
        for (; m_nNext >= 0 && m_nNext < m_list.Size() && m_list[m_nNext].y == y; m_nNext += m_nStep) {
            unsigned char* p = bgr + 3 * size_t(m_list[m_nNext].x);
            p[0] = 0;
            p[1] = 0;
            p[2] = 255;
        }
    }

private:
    const ImageBuffer& m_first;
    int m_nChannels;
    const DiffList& m_list;
    int m_nNext;
    int m_nStep;
};

} // namespace

bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height)
{
    unsigned char header[c_cbHeaders];
    return WantsPng(path) || EncodeBmpHeaders(ImageBuffer{width, height, BmpStride(width), nullptr}, header);
}

int WriteDiffImage(const std::string& path, const ImageBuffer& first, int channels, const DiffList& list)
{
    const bool png = WantsPng(path);
    unsigned char header[c_cbHeaders];
    const ImageBuffer out3{first.width, first.height, BmpStride(first.width), nullptr};
    if (!png && !EncodeBmpHeaders(out3, header))
        return IDS_IMAGE_TOO_LARGE;
    COutputFile out;
    if (!out.Open(path.c_str()) || (!png && !out.Write(header, sizeof header)))
        return c_nTroubleDiffImage;

    CDiffRows rows(first, channels, list, png);
    std::vector<unsigned char> row(size_t(out3.stride), 0);
    bool written = true;
    const bool read = RunGuarded([&] {
        if (png) {
            written = EncodePng(out, first.width, first.height, [&](int32_t y, unsigned char* bgr) { rows.Row(y, bgr); });
            return;
        }
        for (int32_t y = first.height - 1; y >= 0 && written; --y) {
            rows.Row(y, row.data());
            written = out.Write(row.data(), row.size());
        }
    });
    if (!read)
        return IDS_CANNOT_READ;
    return written && out.Commit() ? 0 : c_nTroubleDiffImage;
}
