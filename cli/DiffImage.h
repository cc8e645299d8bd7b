#pragma once

#include "DiffList.h"
#include "ImageBuffer.h"

#include <string>

// Whether a difference image of `first`'s size fits the BMP format.
bool CanWriteDiffImage(const ImageBuffer& first);

// Writes `first` dimmed to a third of its brightness over a dark base, with
// every listed pixel pure red, as a 24-bit BMP at `path`. The file is built
// row by row beside `path` and put in place only when complete. Returns 0,
// IDS_CANNOT_READ when `first` could not be read to the end, or
// c_nTroubleDiffImage when the file could not be written.
int WriteDiffImage(const std::string& path, const ImageBuffer& first, const DiffList& list);
