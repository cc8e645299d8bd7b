#pragma once

#include "DiffList.h"
#include "Image.h"
#include "ImageBuffer.h"

// Lists every pixel at which any of the three channels of `first` and
// `second` differ by `tolerance` or more, top row first and left to right
// within a row, replacing what `list` held. Returns the number of records.
//
// Both images must have the same geometry; the scan reads both with the
// first's. An image with a side of 0 or less gives an empty list. A negative
// result is a failure whose negation is the result code describing it, and
// leaves the list empty: IDS_SIZE_MISMATCH (the geometries differ),
// IDS_IMAGE_TOO_LARGE (a side over 65,535 pixels), IDS_OUT_OF_MEMORY (the
// list could not grow).
int ScanDifferences(const ImageBuffer& first, const ImageBuffer& second,
                    unsigned tolerance, DiffList& list);

// The ways of comparing a row; every one gives the same list. The program
// uses the widest the processor has; tests and benchmarks choose.
enum class ScanKernel
{
    Scalar,
    Sse2,
    Avx2,
};

bool IsScanKernelSupported(ScanKernel kernel);

// The widest kernel this processor runs.
ScanKernel BestScanKernel();

int ScanDifferences(const ImageBuffer& first, const ImageBuffer& second,
                    unsigned tolerance, DiffList& list, ScanKernel kernel);

// What a scan finds when only the number of differing pixels is wanted: the
// count and the smallest rectangle holding them all (edges included; all -1
// when nothing differs).
struct DiffSummary
{
    int64_t count = 0;
    int32_t left = -1;
    int32_t top = -1;
    int32_t right = -1;
    int32_t bottom = -1;

    // Adds the findings of another band of the same pair.
    void Merge(const DiffSummary& other);
};

// The same rule and kernels as ScanDifferences over picture rows firstRow to
// endRow - 1 (top counted), without storing a record: bands of one pair can
// be summarised side by side and merged. Returns 0, or the negated result
// code for pairs that ScanDifferences refuses.
int SummarizeDifferences(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                         int32_t firstRow, int32_t endRow, DiffSummary& summary);
int SummarizeDifferences(const ImageBuffer& first, const ImageBuffer& second, unsigned tolerance,
                         int32_t firstRow, int32_t endRow, DiffSummary& summary, ScanKernel kernel);

// The same rule over images of three or four channels (with four, alpha is
// compared like the colours): ScanDifferences lists, SummarizeDifferences
// counts the pixels of two views, numbering their rows from `topRow`, the
// picture row of the views' first row, so that bands of one pair read
// separately can be merged. Both images must have the same width, height
// and channels (else -IDS_SIZE_MISMATCH), no side over 65,535 pixels (else
// -IDS_IMAGE_TOO_LARGE). A kernel this processor lacks falls back to the
// scalar one.
int ScanDifferences(const ImageView& first, const ImageView& second, unsigned tolerance, DiffList& list,
                    ScanKernel kernel = BestScanKernel());
int SummarizeDifferences(const ImageView& first, const ImageView& second, unsigned tolerance, int32_t topRow,
                         DiffSummary& summary, ScanKernel kernel = BestScanKernel());
