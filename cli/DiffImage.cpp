#include "DiffImage.h"

#include "BmpFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The first picture dimmed, as the difference image shows it under its
// marks: a third of each channel, lifted by 24. v / 3 is (v * 171) >> 9 for
// every byte.
inline uint8_t Dim(unsigned v)
{
    return uint8_t(((v * 171) >> 9) + 24);
}

// Three-byte pixels dimmed from `source` into `target`, red and blue
// swapped with `swap`: five pixels a step with SSSE3, as many as fit
// within both rows; the pixels done.
#if defined(__x86_64__)
__attribute__((target("ssse3"))) size_t DimPixelsSsse3(const uint8_t* source, size_t pixels, bool swap,
                                                       uint8_t* target)
{
    const __m128i order = swap ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15)
                               : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i third = _mm_set1_epi16(171), lift = _mm_set1_epi8(24), zero = _mm_setzero_si128();
    size_t x = 0;
    for (; 3 * x + 16 <= 3 * pixels; x += 5) {
        const __m128i in = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * x)), order);
        const __m128i low = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(in, zero), third), 9);
        const __m128i high = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(in, zero), third), 9);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 3 * x),
                         _mm_add_epi8(_mm_packus_epi16(low, high), lift));
    }
    return x;
}

size_t DimPixels(const uint8_t* source, size_t pixels, bool swap, uint8_t* target)
{
    static const bool s_bSsse3 = __builtin_cpu_supports("ssse3");
    return s_bSsse3 ? DimPixelsSsse3(source, pixels, swap, target) : 0;
}
#else
size_t DimPixels(const uint8_t*, size_t, bool, uint8_t*)
{
    return 0;
}
#endif

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

CDiffPainter::CDiffPainter(int32_t width, int channels, bool mask, RowLayout source, bool rgb, int32_t step)
    : m_nStep(step), m_nChannels(channels), m_bMask(mask), m_source(source), m_bRgb(rgb),
      m_row(size_t((width + step - 1) / step) * size_t(channels))
{
}

const uint8_t* CDiffPainter::Paint(const JudgedRow& row)
{
    uint8_t* pixels = m_row.data();
    const size_t width = m_row.size() / size_t(m_nChannels);
    const int32_t step = m_nStep;
    if (m_bMask) {
        std::memset(pixels, 0, m_row.size());
    } else {
        const uint8_t* source = row.first;
        const int red = m_bRgb ? 0 : 2, sourceRed = m_source.bRedFirst ? 0 : 2;
        const size_t done = m_source.channels == 3 && m_nChannels == 3 && step == 1
                                ? DimPixels(source, width, red != sourceRed, pixels)
                                : 0;
        const size_t sourceStep = size_t(step) * size_t(m_source.channels);
        source += done * sourceStep;
        pixels += done * size_t(m_nChannels);
        for (size_t x = done; x < width; ++x, source += sourceStep, pixels += m_nChannels) {
            pixels[red] = Dim(source[sourceRed]);
            pixels[1] = Dim(source[1]);
            pixels[2 - red] = Dim(source[2 - sourceRed]);
        }
        pixels = m_row.data();
    }
    const auto paint = [&](int32_t x, const uint8_t* colour) {
        uint8_t* p = pixels + size_t(x / step) * size_t(m_nChannels);
        p[0] = colour[m_bRgb ? 2 : 0];
        p[1] = colour[1];
        p[2] = colour[m_bRgb ? 0 : 2];
        if (m_nChannels == 4)
            p[3] = 255;
    };
    if (!row.judge.Rule().ignored.empty()) {
        row.judge.IgnoredSpans(row.y, m_spans);
        for (const auto& [left, right] : m_spans) {
            for (int32_t x = (left + step - 1) / step * step; x <= right; x += step)
                paint(x, c_grey);
        }
    }
    for (const int32_t x : row.antialiased)
        paint(x, c_yellow);
    for (const int32_t x : row.counted)
        paint(x, c_red);
    return pixels;
}

bool CDiffImageOutput::Open(const std::string& path, int32_t width, int32_t height, bool mask, RowLayout source,
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
    m_pPainter = std::make_unique<CDiffPainter>(width, channels, mask, source, png);
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

// The longest side a report's picture keeps; longer ones are reduced.
constexpr int32_t c_nMostReportSide = 4096;

// The three pictures of a large pair, reduced as the rows come: the
// difference image straight into the script, the two pictures into files
// of their own beside it, read back into the script at the end.
class CReportPictures::CReduced
{
public:
    CReduced(const std::string& path, int32_t width, int32_t height, int32_t factor, RowLayout source, ByteSink diff)
        : m_nFactor(factor), m_nWidth((width + factor - 1) / factor), m_nHeight((height + factor - 1) / factor),
          m_nSourceHeight(height), m_nChannels(source.channels), m_painted(size_t(m_nWidth) * 3)
    {
        m_pDiff = NewPngSink(std::move(diff), m_nWidth, m_nHeight, 3);
        for (int i = 0; i < 2; ++i) {
            m_paths[i] = path + (i ? ".actual" : ".expected");
            m_files[i] = std::fopen(m_paths[i].c_str(), "w+b");
            m_rows[i].resize(size_t(m_nWidth) * size_t(m_nChannels));
            if (m_files[i])
                m_pictures[i] = NewPngSink([this, i](const void* bytes, size_t count) {
                    return std::fwrite(bytes, 1, count, m_files[i]) == count;
                }, m_nWidth, m_nHeight, m_nChannels, !source.bRedFirst);
        }
    }

    ~CReduced()
    {
        for (int i = 0; i < 2; ++i) {
            if (m_files[i]) {
                std::fclose(m_files[i]);
                std::remove(m_paths[i].c_str());
            }
        }
    }

    // Picture row y of both pictures and the difference image's reduced
    // row, painted from the first row of each `factor` rows.
    bool Row(const JudgedRow& row, CDiffPainter& painter)
    {
        if (!m_pictures[0] || !m_pictures[1])
            return false;
        const size_t channels = size_t(m_nChannels);
        if (row.y % m_nFactor == 0) {
            for (int i = 0; i < 2; ++i) {
                const uint8_t* source = i ? row.second : row.first;
                uint8_t* target = m_rows[i].data();
                const size_t step = size_t(m_nFactor) * channels;
                // Copies of a size known here: a call for every three bytes
                // took a twelfth of a large pair's time.
                if (channels == 3) {
                    for (int32_t x = 0; x < m_nWidth; ++x, source += step, target += 3)
                        std::memcpy(target, source, 3);
                } else {
                    for (int32_t x = 0; x < m_nWidth; ++x, source += step, target += 4)
                        std::memcpy(target, source, 4);
                }
                if (!m_pictures[i]->Row(m_rows[i].data()))
                    return false;
            }
            std::memcpy(m_painted.data(), painter.Paint(row), m_painted.size());
        }
        // Marks win over what they are reduced with, red over yellow.
        for (const int32_t x : row.antialiased) {
            uint8_t* p = m_painted.data() + size_t(x / m_nFactor) * 3;
            if (!(p[0] == 255 && p[1] == 0 && p[2] == 0))
                p[0] = 255, p[1] = 255, p[2] = 0;
        }
        for (const int32_t x : row.counted) {
            uint8_t* p = m_painted.data() + size_t(x / m_nFactor) * 3;
            p[0] = 255, p[1] = 0, p[2] = 0;
        }
        const bool last = row.y % m_nFactor == m_nFactor - 1 || row.y == m_nSourceHeight - 1;
        return !last || m_pDiff->Row(m_painted.data());
    }

    bool FinishDiff() { return m_pDiff->Finish(); }

    // The finished picture of side i, piece by piece into `out`.
    bool Copy(int i, const ByteSink& out)
    {
        if (!m_pictures[i]->Finish() || std::fflush(m_files[i]) != 0 || std::fseek(m_files[i], 0, SEEK_SET) != 0)
            return false;
        std::vector<char> piece(1 << 16);
        for (size_t got; (got = std::fread(piece.data(), 1, piece.size(), m_files[i])) > 0;) {
            if (!out(piece.data(), got))
                return false;
        }
        return !std::ferror(m_files[i]);
    }

private:
    int32_t m_nFactor;
    int32_t m_nWidth;
    int32_t m_nHeight;
    int32_t m_nSourceHeight;
    int m_nChannels;
    std::vector<uint8_t> m_painted;  // the reduced difference row being gathered, red first
    std::unique_ptr<CRowSink> m_pDiff;
    std::string m_paths[2];
    FILE* m_files[2] = {};
    std::vector<uint8_t> m_rows[2];
    std::unique_ptr<CRowSink> m_pictures[2];
};

CReportPictures::CReportPictures() = default;
CReportPictures::~CReportPictures() = default;

int32_t CReportPictures::Reduction(int32_t width, int32_t height)
{
    return (std::max(width, height) + c_nMostReportSide - 1) / c_nMostReportSide;
}

bool CReportPictures::Open(const std::string& path, int32_t width, int32_t height, RowLayout source, bool paint)
{
    static const char c_szHead[] = "tobrelReportPair(document.currentScript, {\"diff\": \"data:image/png;base64,";
    if (!m_file.Open(path.c_str()) || !m_file.Write(c_szHead, sizeof c_szHead - 1))
        return false;
    m_pText = std::make_unique<CBase64>(m_file);
    if (paint) {
        const int32_t factor = Reduction(width, height);
        m_pPainter = std::make_unique<CDiffPainter>(width, 3, false, source, true, factor);
        if (factor > 1) {
            m_pReduced = std::make_unique<CReduced>(path, width, height, factor, source, DiffBytes());
        } else {
            m_pSink = NewPngSink(DiffBytes(), width, height, 3);
        }
    }
    return true;
}

ByteSink CReportPictures::DiffBytes()
{
    return [this](const void* bytes, size_t count) { return m_pText->Put(bytes, count); };
}

bool CReportPictures::Row(const JudgedRow& row)
{
    return m_pReduced ? m_pReduced->Row(row, *m_pPainter) : m_pSink->Row(m_pPainter->Paint(row));
}

bool CReportPictures::Picture(CImageFile& file)
{
    const auto put = [this](const void* bytes, size_t count) { return m_pText->Put(bytes, count); };
    if (const PngFile* png = file.Png())
        return png->Copy(put) && m_pText->Finish();
    // Alpha stays where the file has it.
    const int channels = file.HasAlpha() ? 4 : 3;
    const std::unique_ptr<CRowSink> sink = NewPngSink(put, file.Width(), file.Height(), channels, true);
    std::vector<uint8_t> row(size_t(file.Width()) * size_t(channels));
    bool ok = file.Start(channels) == Trouble::None;
    for (int32_t y = 0; y < file.Height() && ok; ++y)
        ok = file.Next(1, row.data()) == Trouble::None && sink->Row(row.data());
    return ok && file.Finish() == Trouble::None && sink->Finish() && m_pText->Finish();
}

bool CReportPictures::Commit(CImageFile& first, CImageFile& second)
{
    static const char c_szExpected[] = "\", \"expected\": \"data:image/png;base64,";
    static const char c_szActual[] = "\", \"actual\": \"data:image/png;base64,";
    static const char c_szEnd[] = "\"});\n";
    const auto picture = [&](int i) {
        if (!m_pReduced)
            return Picture(i ? second : first);
        return m_pReduced->Copy(i, DiffBytes()) && m_pText->Finish();
    };
    const bool diff = m_pReduced ? m_pReduced->FinishDiff() : !m_pSink || m_pSink->Finish();
    return diff && m_pText->Finish() && m_file.Write(c_szExpected, sizeof c_szExpected - 1) && picture(0) &&
           m_file.Write(c_szActual, sizeof c_szActual - 1) && picture(1) &&
           m_file.Write(c_szEnd, sizeof c_szEnd - 1) && m_file.Commit();
}
