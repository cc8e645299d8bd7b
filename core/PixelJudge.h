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

// The largest squared YIQ distance two opaque colours can have. Translucent
// pixels are blended over a background that varies with their place, as
// pixelmatch does, so that counts agree with it.
constexpr double c_dMaxYiqDelta = 35215;

// Judges two images of the same geometry a row at a time. Neighbours are
// read across rows: a row needs the two rows above and below it in the
// views (which may be windows on the pictures). Rows may be judged in any
// order and from several threads at once.
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

    const PixelRule& Rule() const { return m_rule; }

private:
    template <int C>
    void JudgeRowOf(int32_t y, std::vector<int32_t>& counted, std::vector<int32_t>& antialiased) const;

    ImageView m_first;
    ImageView m_second;
    PixelRule m_rule;
    double m_dMaxDelta;
};
