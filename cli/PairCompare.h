#pragma once

#include "DiffList.h"
#include "DiffRegions.h"
#include "DiffScan.h"
#include "PixelJudge.h"
#include "Trouble.h"

#include <string>
#include <vector>

struct PairOptions
{
    PixelRule rule;           // the exact rule at tolerance 1 unless told otherwise
    bool bRegions = false;    // group the counted pixels into regions
    size_t maxRegions = 100;  // the regions kept, largest first
    int64_t maxDiffPixels = -1;   // a pair with no more counted pixels passes
    double maxDiffRatio = -1;     // ... or with no larger a share of the compared ones
    bool bDiffMask = false;   // the difference image shows the marks alone
    bool bList = false;       // keep every differing pixel, in scan order
    std::string diffImage;    // where to write the difference image; empty: none
    bool bImageOnlyIfDiffering = false;  // and its missing folders, only for a pair that differs
    std::string diffImageFolder;  // where it is written while its folders are not there
    std::vector<std::string> inputFolders;  // folders no output may land in
    int threads = 1;          // for the bands of one large pair
    std::string reportImages; // where a report's pictures of the pair go, if it differs
    int shard = 1;            // folders: compare only the pairs of share `shard`
    int shards = 0;           // ... of this many; 0: not split

    bool HasLimit() const { return maxDiffPixels >= 0 || maxDiffRatio >= 0; }
    // Whether the pair goes beyond the exact count: every pixel is judged
    // by the rule with its neighbours at hand.
    bool NeedsJudge() const
    {
        return rule.Perceptual() || rule.bAntialiasing || !rule.ignored.empty() || bRegions || bDiffMask ||
               !reportImages.empty();
    }
};

struct PairResult
{
    Trouble trouble = Trouble::None;
    std::string message;      // the trouble in one line that names the file(s)
    int32_t width = 0;
    int32_t height = 0;
    DiffSummary summary;      // the counted pixels
    int64_t antialiased = 0;  // differing pixels set apart as anti-aliasing
    int64_t compared = 0;     // the pixels outside the ignored areas
    bool passed = false;      // equal, or within the limits
    std::vector<DiffRegion> regions;  // with PairOptions::bRegions, largest first
    int64_t regionsLeftOut = 0;
    // Which of the files holds more pictures than its first, the one
    // compared (an animated GIF, a TIFF of pages).
    bool morePictures[2] = {false, false};
    // For a pair that fails: each file's size and CRC-32, with which
    // --accept knows the files it copies are the ones compared.
    struct FileDigest
    {
        bool bKnown = false;
        uint64_t size = 0;
        uint32_t crc = 0;
    } files[2];
    std::string reportImages;    // the report's pictures of the pair, when written
    std::string reportFailure;   // why they could not be written; the result stands
    DiffList list;            // with PairOptions::bList
};

// Whether a pair's result lets it pass: nothing counted, or no more than
// the limits allow.
bool Passes(const PairOptions& options, int64_t count, int64_t compared);

// The note that a result's files hold more pictures than the compared
// ones, naming them; empty when they do not.
std::string MorePicturesNote(const std::string& first, const std::string& second, const PairResult& result);

// Compares two files, BMP, PNG, JPEG, WebP, TIFF or GIF in any mix, by the
// rule of `options`. By the exact rule a pixel differs when any channel
// differs by the tolerance or more (alpha too, when either image has it; an
// image without counts as opaque). The count and bounding box always come
// back; the regions, the list and the difference image when asked for.
void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result);

// Marks `result` as in trouble, with the message naming `where`.
void SetTrouble(PairResult& result, Trouble trouble, const std::string& where);
