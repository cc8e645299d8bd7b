#pragma once

#include "ImageFile.h"
#include "Pipeline.h"
#include "Platform.h"
#include "RowSink.h"

#include <memory>
#include <string>
#include <vector>

// Whether a difference image of that size fits the format that `path` asks
// for: PNG for a name ending in .png (any case), BMP otherwise.
bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height);
bool IsPngName(const std::string& path);

// Paints row after row of a difference image: the first picture dimmed to
// a third of its brightness over a dark base (alpha left out), counted
// pixels red, anti-aliased ones yellow, ignored areas grey. A mask has the
// marks alone, over black, or over transparent pixels with four channels.
class CDiffPainter
{
public:
    // The painted rows come with `rgb` red first, as PNG stores them. With
    // a `step` over 1 a row has every step-th pixel of the picture's, from
    // the first, each with the marks of the pixels up to the next.
    CDiffPainter(int32_t width, int channels, bool mask, RowLayout source, bool rgb, int32_t step = 1);
    const uint8_t* Paint(const JudgedRow& row);

private:
    int32_t m_nStep;
    int m_nChannels;
    bool m_bMask;
    RowLayout m_source;
    bool m_bRgb;
    std::vector<uint8_t> m_row;
    std::vector<std::pair<int32_t, int32_t>> m_spans;
};

// The difference image, written as the rows are judged, put in place by
// Commit only: a pair that ends in trouble leaves the last good image.
class CDiffImageOutput : public CRowConsumer
{
public:
    // False when the file could not be opened; `tempFolder` as for COutputFile.
    bool Open(const std::string& path, int32_t width, int32_t height, bool mask, RowLayout source,
              const std::string& tempFolder = {});
    // The encoded bytes go to `copy` too (the report's copy of the image).
    void Tee(ByteSink copy) { m_copy = std::move(copy); }
    bool Row(const JudgedRow& row) override;
    bool Commit();

private:
    COutputFile m_file;
    ByteSink m_copy;
    std::unique_ptr<CRowSink> m_pSink;
    std::unique_ptr<CDiffPainter> m_pPainter;
};

// The pictures a report shows of a pair, in a script for the report's page:
// `tobrelReportPair(document.currentScript, {...})` with the difference
// image, the first and the second picture as PNG data URLs. A script rather
// than image files, because a page opened from disk may not read the pixels
// of image files, and the page shows the colours of the pixel under the
// pointer. The difference image is written as the rows are judged; the two
// pictures when the pair is done, a PNG input copied as it is (without its
// metadata), a BMP encoded. Pictures longer than a browser shows well are
// reduced, every side by one factor, as the rows come: each reduced pixel
// of the difference image shows a mark of any pixel it stands for.
class CReportPictures : public CRowConsumer
{
public:
    CReportPictures();
    ~CReportPictures() override;
    // By how much a picture of that size is reduced: 1 for none.
    static int32_t Reduction(int32_t width, int32_t height);
    // Without `paint` the difference image comes as encoded bytes through
    // DiffBytes, from a difference image written anyway (not reduced).
    bool Open(const std::string& path, int32_t width, int32_t height, RowLayout source, bool paint);
    ByteSink DiffBytes();
    bool Row(const JudgedRow& row) override;
    // Adds both pictures and puts the script in place.
    bool Commit(CImageFile& first, CImageFile& second);

private:
    class CBase64;
    class CReduced;
    bool Picture(CImageFile& file);

    COutputFile m_file;
    std::unique_ptr<CBase64> m_pText;
    std::unique_ptr<CRowSink> m_pSink;
    std::unique_ptr<CDiffPainter> m_pPainter;
    std::unique_ptr<CReduced> m_pReduced;
};
