#include "DiffImage.h"

#include "BmpFormat.h"
#include "Platform.h"
#include "PngCodec.h"

#include <cctype>
#include <functional>
#include <cstring>
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

// What the marks are painted in, blue, green, red.
constexpr unsigned char c_red[3] = {0, 0, 255};
constexpr unsigned char c_yellow[3] = {0, 255, 255};
constexpr unsigned char c_grey[3] = {128, 128, 128};

void Dim(const ImageView& first, int32_t y, unsigned char* bgr)
{
    const uint8_t* source = first.Row(y);
    for (int32_t x = 0; x < first.width; ++x, source += first.channels, bgr += 3) {
        bgr[0] = uint8_t(source[0] / 3 + 24);
        bgr[1] = uint8_t(source[1] / 3 + 24);
        bgr[2] = uint8_t(source[2] / 3 + 24);
    }
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
        Dim(m_first, y, bgr);
        for (; m_nNext >= 0 && m_nNext < m_list.Size() && m_list[m_nNext].y == y; m_nNext += m_nStep)
            std::memcpy(bgr + 3 * size_t(m_list[m_nNext].x), c_red, 3);
    }

private:
    const ImageView& m_first;
    const DiffList& m_list;
    int m_nNext;
    int m_nStep;
};

// The rows of a judged pair's image, each judged again when it is asked for.
class CJudgedRows
{
public:
    CJudgedRows(const ImageView& first, const CPixelJudge& judge, bool mask, int channels)
        : m_first(first), m_judge(judge), m_bMask(mask), m_nChannels(channels)
    {
    }

    void Row(int32_t y, unsigned char* pixels)
    {
        const size_t width = size_t(m_first.width);
        if (!m_bMask)
            Dim(m_first, y, pixels);
        else
            std::memset(pixels, 0, width * size_t(m_nChannels));
        const auto paint = [&](int32_t x, const unsigned char* colour) {
            unsigned char* p = pixels + size_t(x) * size_t(m_nChannels);
            std::memcpy(p, colour, 3);
            if (m_nChannels == 4)
                p[3] = 255;
        };
        m_judge.IgnoredSpans(y, m_spans);
        for (const auto& [left, right] : m_spans) {
            for (int32_t x = left; x <= right; ++x)
                paint(x, c_grey);
        }
        m_counted.clear();
        m_antialiased.clear();
        m_judge.JudgeRow(y, m_counted, m_antialiased);
        for (const int32_t x : m_antialiased)
            paint(x, c_yellow);
        for (const int32_t x : m_counted)
            paint(x, c_red);
    }

private:
    const ImageView& m_first;
    const CPixelJudge& m_judge;
    bool m_bMask;
    int m_nChannels;
    std::vector<std::pair<int32_t, int32_t>> m_spans;
    std::vector<int32_t> m_counted;
    std::vector<int32_t> m_antialiased;
};

// Writes a width x height image whose rows `row(y, pixels)` paints, in blue,
// green, red (and alpha for a PNG of four channels) order.
template <typename Painter>
Trouble WriteImage(const std::string& path, int32_t width, int32_t height, int channels, Painter&& row)
{
    const bool png = WantsPng(path);
    unsigned char header[c_cbHeaders];
    const ImageBuffer out3{width, height, BmpStride(width), nullptr};
    if (!png && !EncodeBmpHeaders(out3, header))
        return Trouble::ImageTooLarge;
    COutputFile out;
    if (!out.Open(path.c_str()) || (!png && !out.Write(header, sizeof header)))
        return Trouble::DiffImageNotWritten;

    bool written = true;
    if (png) {
        written = EncodePng([&](const void* bytes, size_t count) { return out.Write(bytes, count); }, width, height,
                            channels, row);
    } else {
        std::vector<unsigned char> pixels(size_t(out3.stride), 0);
        for (int32_t y = height - 1; y >= 0 && written; --y) {
            row(y, pixels.data());
            written = out.Write(pixels.data(), pixels.size());
        }
    }
    return written && out.Commit() ? Trouble::None : Trouble::DiffImageNotWritten;
}

} // namespace

bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height)
{
    unsigned char header[c_cbHeaders];
    return WantsPng(path) || EncodeBmpHeaders(ImageBuffer{width, height, BmpStride(width), nullptr}, header);
}

Trouble WriteDiffImage(const std::string& path, const ImageView& first, const DiffList& list)
{
    CDiffRows rows(first, list, WantsPng(path));
    return WriteImage(path, first.width, first.height, 3, [&](int32_t y, unsigned char* bgr) { rows.Row(y, bgr); });
}

Trouble WriteDiffImage(const std::string& path, const ImageView& first, const CPixelJudge& judge, bool mask)
{
    const int channels = mask && WantsPng(path) ? 4 : 3;
    CJudgedRows rows(first, judge, mask, channels);
    return WriteImage(path, first.width, first.height, channels,
                      [&](int32_t y, unsigned char* pixels) { rows.Row(y, pixels); });
}

namespace {

// The picture as a PNG data URL; empty when it could not be encoded.
std::string PngDataUrl(int32_t width, int32_t height, int channels,
                       const std::function<void(int32_t y, unsigned char* pixels)>& row)
{
    std::string png;
    const bool encoded = EncodePng(
        [&](const void* bytes, size_t count) {
            png.append(static_cast<const char*>(bytes), count);
            return true;
        },
        width, height, channels, row);
    const std::string text = encoded ? Base64(png) : std::string();
    return text.empty() ? std::string() : "data:image/png;base64," + text;
}

std::string PictureUrl(const ImageView& picture)
{
    return PngDataUrl(picture.width, picture.height, picture.channels, [&](int32_t y, unsigned char* pixels) {
        std::memcpy(pixels, picture.Row(y), size_t(picture.width) * size_t(picture.channels));
    });
}

} // namespace

Trouble WriteReportImages(const std::string& path, const ImageView& first, const ImageView& second,
                          const CPixelJudge& judge)
{
    CJudgedRows rows(first, judge, false, 3);
    const std::string urls[3] = {
        PictureUrl(first), PictureUrl(second),
        PngDataUrl(first.width, first.height, 3, [&](int32_t y, unsigned char* pixels) { rows.Row(y, pixels); })};
    for (const std::string& url : urls) {
        if (url.empty())
            return Trouble::DiffImageNotWritten;
    }
    const std::string script = "tobrelReportPair(document.currentScript, {\"expected\": \"" + urls[0] +
                               "\", \"actual\": \"" + urls[1] + "\", \"diff\": \"" + urls[2] + "\"});\n";
    COutputFile out;
    return out.Open(path.c_str()) && out.Write(script.data(), script.size()) && out.Commit()
               ? Trouble::None
               : Trouble::DiffImageNotWritten;
}
