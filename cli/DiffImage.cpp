#include "DiffImage.h"

#include "BmpFormat.h"

#include <cctype>
#include <cstring>

namespace {

} // namespace

bool IsPngName(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png";
}

namespace {

// What the marks are painted in, blue, green, red.
constexpr uint8_t c_red[3] = {0, 0, 255};
constexpr uint8_t c_yellow[3] = {0, 255, 255};
constexpr uint8_t c_grey[3] = {128, 128, 128};

} // namespace

bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height)
{
    unsigned char header[c_cbHeaders];
    return IsPngName(path) || EncodeBmpHeaders(ImageBuffer{width, height, BmpStride(width), nullptr}, header);
}

CDiffPainter::CDiffPainter(int32_t width, int channels, bool mask, int sourceChannels, bool rgb)
    : m_nChannels(channels), m_bMask(mask), m_nSourceChannels(sourceChannels), m_bRgb(rgb),
      m_row(size_t(width) * size_t(channels))
{
    for (int v = 0; v < 256; ++v)
        m_dim[v] = uint8_t(v / 3 + 24);
}

const uint8_t* CDiffPainter::Paint(const JudgedRow& row)
{
    uint8_t* pixels = m_row.data();
    const size_t width = m_row.size() / size_t(m_nChannels);
    if (m_bMask) {
        std::memset(pixels, 0, m_row.size());
    } else {
        const uint8_t* source = row.first;
        const int red = m_bRgb ? 0 : 2;
        for (size_t x = 0; x < width; ++x, source += m_nSourceChannels, pixels += m_nChannels) {
            pixels[red] = m_dim[source[2]];
            pixels[1] = m_dim[source[1]];
            pixels[2 - red] = m_dim[source[0]];
        }
        pixels = m_row.data();
    }
    const auto paint = [&](int32_t x, const uint8_t* colour) {
        uint8_t* p = pixels + size_t(x) * size_t(m_nChannels);
        p[0] = colour[m_bRgb ? 2 : 0];
        p[1] = colour[1];
        p[2] = colour[m_bRgb ? 0 : 2];
        if (m_nChannels == 4)
            p[3] = 255;
    };
    if (!row.judge.Rule().ignored.empty()) {
        row.judge.IgnoredSpans(row.y, m_spans);
        for (const auto& [left, right] : m_spans) {
            for (int32_t x = left; x <= right; ++x)
                paint(x, c_grey);
        }
    }
    for (const int32_t x : row.antialiased)
        paint(x, c_yellow);
    for (const int32_t x : row.counted)
        paint(x, c_red);
    return pixels;
}

bool CDiffImageOutput::Open(const std::string& path, int32_t width, int32_t height, bool mask, int sourceChannels,
                            const std::string& tempFolder)
{
    const bool png = IsPngName(path);
    const int channels = mask && png ? 4 : 3;
    if (!m_file.Open(path.c_str(), tempFolder))
        return false;
    const auto write = [this](const void* bytes, size_t count) {
        return m_file.Write(bytes, count) && (!m_copy || m_copy(bytes, count));
    };
    m_pSink = png ? NewPngSink(write, width, height, channels) : NewBmpSink(write, width, height);
    m_pPainter = std::make_unique<CDiffPainter>(width, channels, mask, sourceChannels, png);
    return m_pSink != nullptr;
}

bool CDiffImageOutput::Row(const JudgedRow& row)
{
    return m_pSink->Row(m_pPainter->Paint(row));
}

bool CDiffImageOutput::Commit()
{
    return m_pSink->Finish() && m_file.Commit();
}

// Base64 text written as the bytes come: every whole three bytes at once,
// the rest kept for the next piece.
class CReportPictures::CBase64
{
public:
    explicit CBase64(COutputFile& file) : m_file(file) {}

    bool Put(const void* bytes, size_t count)
    {
        m_pending.append(static_cast<const char*>(bytes), count);
        return m_pending.size() < c_cbPiece || Flush(m_pending.size() / 3 * 3);
    }
    bool Finish() { return Flush(m_pending.size()); }

private:
    static constexpr size_t c_cbPiece = 3 << 16;

    bool Flush(size_t bytes)
    {
        const std::string text = Base64(m_pending.substr(0, bytes));
        m_pending.erase(0, bytes);
        return m_file.Write(text.data(), text.size());
    }

    COutputFile& m_file;
    std::string m_pending;
};

CReportPictures::CReportPictures() = default;
CReportPictures::~CReportPictures() = default;

bool CReportPictures::Open(const std::string& path, int32_t width, int32_t height, int sourceChannels, bool paint)
{
    static const char c_szHead[] = "tobrelReportPair(document.currentScript, {\"diff\": \"data:image/png;base64,";
    if (!m_file.Open(path.c_str()) || !m_file.Write(c_szHead, sizeof c_szHead - 1))
        return false;
    m_pText = std::make_unique<CBase64>(m_file);
    if (paint) {
        m_pSink = NewPngSink(DiffBytes(), width, height, 3);
        m_pPainter = std::make_unique<CDiffPainter>(width, 3, false, sourceChannels, true);
    }
    return true;
}

ByteSink CReportPictures::DiffBytes()
{
    return [this](const void* bytes, size_t count) { return m_pText->Put(bytes, count); };
}

bool CReportPictures::Row(const JudgedRow& row)
{
    return m_pSink->Row(m_pPainter->Paint(row));
}

bool CReportPictures::Picture(CImageFile& file)
{
    const auto put = [this](const void* bytes, size_t count) { return m_pText->Put(bytes, count); };
    if (const PngFile* png = file.Png())
        return png->Copy(put) && m_pText->Finish();
    const std::unique_ptr<CRowSink> sink = NewPngSink(put, file.Width(), file.Height(), 3, true);
    std::vector<uint8_t> row(size_t(file.Width()) * 3);
    bool ok = file.Start(3) == Trouble::None;
    for (int32_t y = 0; y < file.Height() && ok; ++y)
        ok = file.Next(1, row.data()) == Trouble::None && sink->Row(row.data());
    return ok && file.Finish() == Trouble::None && sink->Finish() && m_pText->Finish();
}

bool CReportPictures::Commit(CImageFile& first, CImageFile& second)
{
    static const char c_szExpected[] = "\", \"expected\": \"data:image/png;base64,";
    static const char c_szActual[] = "\", \"actual\": \"data:image/png;base64,";
    static const char c_szEnd[] = "\"});\n";
    return (!m_pSink || m_pSink->Finish()) && m_pText->Finish() && m_file.Write(c_szExpected, sizeof c_szExpected - 1) &&
           Picture(first) && m_file.Write(c_szActual, sizeof c_szActual - 1) && Picture(second) &&
           m_file.Write(c_szEnd, sizeof c_szEnd - 1) && m_file.Commit();
}
