#pragma once

#include "ResultCodes.h"

#include <string>

// Everything that keeps the comparer from giving a result. The numbers are
// part of the JSON output: the core's result codes (the program's own
// messages) keep theirs, and the comparer's own troubles follow from 120.
enum class Trouble
{
    None = 0,
    SizeMismatch = IDS_SIZE_MISMATCH,
    UnsupportedFormat = IDS_UNSUPPORTED_FORMAT,
    NotBitmap = IDS_NOT_BITMAP,
    CannotRead = IDS_CANNOT_READ,
    ImageTooLarge = IDS_IMAGE_TOO_LARGE,
    OutOfMemory = IDS_OUT_OF_MEMORY,
    DiffImageNotWritten = 120,
    DiffImageIsInput = 121,
    OnlyInFirst = 122,
    OnlyInSecond = 123,
    Png16Bit = 124,
    PngDamaged = 125,
    ReportNotWritten = 126,
    JpegDamaged = 127,
    WebpDamaged = 128,
    TiffDamaged = 129,
    GifDamaged = 130,
    JpegCmyk = 131,
    TiffDeepSamples = 132,
    TiffLayout = 133,
    WebpAnimated = 134,
    FormatUnavailable = 135,
};

// The trouble a core result code stands for (0 is None).
Trouble TroubleOf(int resultCode);

int TroubleCode(Trouble trouble);

// One line, in one language: the program's Japanese message for the core's
// troubles, English for the comparer's own.
std::string TroubleText(Trouble trouble);
