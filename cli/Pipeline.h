#pragma once

#include "DiffScan.h"
#include "ImageFile.h"
#include "PixelJudge.h"
#include "Trouble.h"

#include <span>
#include <vector>

// How the pipeline's rows hold a pixel: 3 or 4 bytes, blue first, or red
// first as PNG files store them (the exact rule does not care, and the
// rows need not be reordered).
struct RowLayout
{
    int channels = 3;
    bool bRedFirst = false;
};

// One row of a pair as the rule judged it: the pixels of both pictures and
// the x of every counted and every anti-aliased pixel, left to right.
struct JudgedRow
{
    int32_t y;
    const uint8_t* first;   // the row's pixels, in the pipeline's channels
    const uint8_t* second;
    std::span<const int32_t> counted;
    std::span<const int32_t> antialiased;
    const CPixelJudge& judge;  // for the ignored areas of the row
};

// What a pair's rows go to, each row once, top first.
class CRowConsumer
{
public:
    virtual ~CRowConsumer() = default;
    // False stops the pipeline: the consumer failed.
    virtual bool Row(const JudgedRow& row) = 0;
};

// How a pair is read and judged.
struct PipelineSetup
{
    const PixelRule* rule = nullptr;
    int channels = 3;        // 4 when either picture has alpha
    bool bFileOrder = false;  // colours as the files store them: for a count alone
    bool bPlaces = false;    // the consumers want each row's pixels; else the count alone
    bool bSameBytes = false;  // both files hold the same pixels: read the first only
    int threads = 1;
};

// What a pipeline found, or where it failed.
struct PipelineResult
{
    Trouble trouble = Trouble::None;
    int troubled = -1;  // the file in trouble, 0 or 1; -1 for the pair
    bool bStopped = false;  // a consumer failed
    DiffSummary summary;
    int64_t antialiased = 0;
};

// Reads both files band by band, each band with the rows around it that
// the anti-aliasing check looks at, judges every row by the rule on every
// thread, and hands the rows to the consumers in order. Memory holds a few
// bands of each file, never a picture (but for a file that decodes only
// whole). A BMP read in place is not copied. The files must be open, of the
// same size; Finish is called on them, so the result stands only when the
// files did not change.
void RunPipeline(CImageFile* files[2], const PipelineSetup& setup, std::span<CRowConsumer* const> consumers,
                 PipelineResult& result);
