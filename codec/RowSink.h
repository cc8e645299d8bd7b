#pragma once

// Pictures written a row at a time, top row first: PNG and BMP files made
// as the rows come, never held whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Where encoded bytes go, piece by piece; false when a piece could not be
// taken, which ends the writing.
using ByteSink = std::function<bool(const void* bytes, size_t count)>;

class CRowSink
{
public:
    virtual ~CRowSink() = default;
    // The next row, top first: `channels` bytes a pixel, in the order the
    // sink was made for. False once anything failed.
    virtual bool Row(const uint8_t* pixels) = 0;
    // After the last row: the end of the file. False if anything failed.
    virtual bool Finish() = 0;
};

// An 8-bit PNG of three channels (RGB) or four (RGBA), compressed for
// speed: the Sub filter on every row, which turns flat areas into zeros,
// and the fastest deflate that still finds runs. Rows come red first, as
// PNG stores them, or with `bgr` blue first.
std::unique_ptr<CRowSink> NewPngSink(ByteSink out, int32_t width, int32_t height, int channels, bool bgr = false);

// A 24-bit BMP (rows blue first, as BMP stores them) whose rows are stored top first (a negative height), so that
// it can be written as the rows come. Null when the picture does not fit
// the format's 32-bit sizes.
std::unique_ptr<CRowSink> NewBmpSink(ByteSink out, int32_t width, int32_t height);
