#pragma once

#include "DiffList.h"
#include "DiffScan.h"

#include <string>

// Troubles of the comparer's own, beside the core's result codes (104-111).
constexpr int c_nTroubleDiffImage = 120;      // the difference image could not be written
constexpr int c_nTroubleDiffImageInput = 121; // the difference image would replace an input
constexpr int c_nTroubleOnlyExpected = 122;   // in folders: a file only in the first folder
constexpr int c_nTroubleOnlyActual = 123;     // in folders: a file only in the second folder
constexpr int c_nTroublePng16Bit = 124;       // a PNG with 16-bit samples
constexpr int c_nTroublePngDamaged = 125;     // a PNG whose data is damaged

struct PairOptions
{
    unsigned tolerance = 1;
    bool bList = false;       // keep every differing pixel, in scan order
    std::string diffImage;    // where to write the difference image; empty: none
    bool bImageOnlyIfDiffering = false;  // and its missing folders, only for a pair that differs
    int threads = 1;          // for the bands of one large pair
};

struct PairResult
{
    int code = 0;             // 0: compared; else the trouble's code
    std::string trouble;      // the trouble in one line that names the file(s)
    int32_t width = 0;
    int32_t height = 0;
    DiffSummary summary;
    DiffList list;            // with PairOptions::bList
};

// Compares two files, BMP or PNG in any mix. A pixel differs when any
// channel differs by the tolerance or more (alpha too, when either image
// has it; an image without counts as opaque); the count and bounding box always come back, the list
// and the difference image when asked for.
void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result);

// The message text of a trouble code.
std::string TroubleText(int code);

// A path fit for one line of a terminal: control characters are shown as
// \xHH, so a name cannot forge a line or drive the terminal.
std::string Printable(const std::string& text);
