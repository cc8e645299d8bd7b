#pragma once

#include "DiffList.h"
#include "Image.h"
#include "PixelJudge.h"
#include "Trouble.h"

#include <string>

// Whether a difference image of that size fits the format that `path` asks
// for: PNG for a name ending in .png (any case), BMP otherwise.
bool CanWriteDiffImage(const std::string& path, int32_t width, int32_t height);

// Writes `first` (alpha is left out) dimmed to a third of its brightness
// over a dark base, with every listed pixel pure red, as a 24-bit BMP or an
// 8-bit RGB PNG at `path`, row by row. Returns None, or
// DiffImageNotWritten when the file could not be written (nothing is left
// in place of a regular file then).
Trouble WriteDiffImage(const std::string& path, const ImageView& first, const DiffList& list);

// The same for a pair judged by a rule, the rows judged again as they are
// written: counted pixels red, anti-aliased ones yellow, ignored areas grey.
// A mask has the marks alone, over black in a BMP and over transparent
// pixels in a PNG (8-bit RGBA then).
Trouble WriteDiffImage(const std::string& path, const ImageView& first, const CPixelJudge& judge, bool mask);

// Writes the pictures a report shows of a judged pair (the first, the
// second, the difference image) as PNG in data URLs, in a script for the
// report's page: `tobrelReportPair(document.currentScript, {...})`. A
// script rather than image files, because a page opened from disk may not
// read the pixels of image files, and the page shows the colours of the
// pixel under the pointer.
Trouble WriteReportImages(const std::string& path, const ImageView& first, const ImageView& second,
                          const CPixelJudge& judge);
