#pragma once

#include "Image.h"

#include <cstdint>
#include <utility>
#include <vector>

// A rectangle of picture pixels, its edges included.
struct PixelRect
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// How the comparer judges a pair of pixels, for screenshots as much as for
// bitmaps. The exact rule (any channel differs by `tolerance` or more) holds
// unless `threshold` is set; then two colours differ when their distance in
// the YIQ space, the perceptual measure of Kotsarenko and Ramos, exceeds
// that fraction of the largest distance. Either way a differing pixel that
// the anti-aliasing detector of Vysniauskas finds in either image is, with
// `bAntialiasing`, set apart rather than counted; pixels in an ignored area
// are never compared.
struct PixelRule
{
    unsigned tolerance = 1;
    double threshold = -1;  // 0 to 1 for the perceptual rule
    bool bAntialiasing = false;
    std::vector<PixelRect> ignored;

    bool Perceptual() const { return threshold >= 0; }
};

// The largest squared YIQ distance two opaque colours can have.
constexpr double c_dMaxYiqDelta = 35215;

// The squared YIQ distance of a pixel of `first` and one of `second`,
// negative when the second is the brighter. Pixels with alpha are blended
// over a background that varies with `position` (the first pixel's index
// in its picture), as pixelmatch does, so that counts agree with it.
double YiqDelta(const uint8_t* first, const uint8_t* second, int channels, int64_t position);

// The brightness difference of two pixels of one picture, by the same
// blending: positive when `pixel` is the brighter.
double BrightnessDelta(const uint8_t* pixel, const uint8_t* neighbour, int channels, int64_t position);

// Whether pixel (x, y) of `image` looks like anti-aliasing: its neighbours
// hold both a darker and a brighter one, not more than two equal ones, and
// the darkest or the brightest lies in a flat area of both `image` and
// `other`.
bool IsAntialiased(const ImageView& image, const ImageView& other, int32_t x, int32_t y);

// Judges two images of the same geometry a row at a time. Neighbours are
// read across rows, so the views are of whole pictures; rows may be judged
// in any order and from several threads at once.
class CPixelJudge
{
public:
    CPixelJudge(const ImageView& first, const ImageView& second, const PixelRule& rule);

    // Appends to `counted` the x of every pixel of row y that differs, and
    // to `antialiased` those that differ but were set apart as
    // anti-aliasing: left to right.
    void JudgeRow(int32_t y, std::vector<int32_t>& counted, std::vector<int32_t>& antialiased) const;

    // The ignored pixels of row y as [first, last] spans, left to right and
    // apart from each other.
    void IgnoredSpans(int32_t y, std::vector<std::pair<int32_t, int32_t>>& spans) const;

    // The pixels that are compared: all but the ignored ones.
    int64_t ComparedPixels() const;

private:
    bool Differs(const uint8_t* a, const uint8_t* b, int64_t position) const;

    ImageView m_first;
    ImageView m_second;
    PixelRule m_rule;
    double m_dMaxDelta;
};
