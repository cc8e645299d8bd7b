#pragma once

#include "DiffList.h"
#include "ImageBuffer.h"

#include <string>

// Whether a difference image of that size fits the format that `path` asks
// for: PNG for a name ending in .png (any case), BMP otherwise.
bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height);

// Writes `first` (3 or 4 bytes a pixel, rows bottom-up; alpha is left out)
// dimmed to a third of its brightness over a dark base, with every listed
// pixel pure red, as a 24-bit BMP or an 8-bit RGB PNG at `path`. The file is
// built row by row beside `path` and put in place only when complete.
// Returns 0, IDS_CANNOT_READ when `first` could not be read to the end, or
// c_nTroubleDiffImage when the file could not be written.
int WriteDiffImage(const std::string& path, const ImageBuffer& first, int channels, const DiffList& list);
