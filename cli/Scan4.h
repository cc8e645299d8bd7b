#pragma once

// The scan of pairs with alpha: four bytes a pixel (blue, green, red, alpha),
// rows bottom-up, compared by the same rule as the core's three-channel scan
// (a pixel differs when any channel differs by the tolerance or more), with
// the same results: records top row first, a count and a bounding box.

#include "DiffList.h"
#include "DiffScan.h"
#include "ImageBuffer.h"

// Returns the number of records, or the negated IDS_OUT_OF_MEMORY.
int ScanDifferences4(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance, DiffList& list);

void SummarizeDifferences4(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                           int32_t firstRow, int32_t endRow, DiffSummary& summary);
