#include "DiffImage.h"

#include "BmpFormat.h"
#include "Platform.h"
#include "PngCodec.h"

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
    CDiffRows(const ImageView& first, const DiffList& list, bool fromTop)
        : m_first(first), m_list(list), m_nNext(fromTop ? 0 : list.Size() - 1),
          m_nStep(fromTop ? 1 : -1)
    {
    }

    void Row(int32_t y, unsigned char* bgr)
    {
        const uint8_t* source = m_first.Row(y);
        for (int32_t x = 0; x < m_first.width; ++x, source += m_first.channels, bgr += 3) {
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
    const ImageView& m_first;
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

Trouble WriteDiffImage(const std::string& path, const ImageView& first, const DiffList& list)
{
    const bool png = WantsPng(path);
    unsigned char header[c_cbHeaders];
    const ImageBuffer out3{first.width, first.height, BmpStride(first.width), nullptr};
    if (!png && !EncodeBmpHeaders(out3, header))
        return Trouble::ImageTooLarge;
    COutputFile out;
    if (!out.Open(path.c_str()) || (!png && !out.Write(header, sizeof header)))
        return Trouble::DiffImageNotWritten;

    CDiffRows rows(first, list, png);
    bool written = true;
    if (png) {
        written = EncodePng(out, first.width, first.height, [&](int32_t y, unsigned char* bgr) { rows.Row(y, bgr); });
    } else {
        std::vector<unsigned char> row(size_t(out3.stride), 0);
        for (int32_t y = first.height - 1; y >= 0 && written; --y) {
            rows.Row(y, row.data());
            written = out.Write(row.data(), row.size());
        }
    }
    return written && out.Commit() ? Trouble::None : Trouble::DiffImageNotWritten;
}
