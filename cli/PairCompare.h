#pragma once

#include "DiffList.h"
#include "DiffScan.h"
#include "Trouble.h"

#include <string>

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
    Trouble trouble = Trouble::None;
    std::string message;      // the trouble in one line that names the file(s)
    int32_t width = 0;
    int32_t height = 0;
    DiffSummary summary;
    DiffList list;            // with PairOptions::bList
};

// Compares two files, BMP or PNG in any mix. A pixel differs when any
// channel differs by the tolerance or more (alpha too, when either image
// has it; an image without counts as opaque); the count and bounding box
// always come back, the list and the difference image when asked for.
void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result);

// Marks `result` as in trouble, with the message naming `where`.
void SetTrouble(PairResult& result, Trouble trouble, const std::string& where);
