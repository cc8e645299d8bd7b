#include "PairCompare.h"

#include "DiffImage.h"
#include "ImageFile.h"
#include "OrderedPool.h"
#include "Pipeline.h"
#include "Platform.h"
#include "Printable.h"
#include "Utf8Path.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

// Pairs that need less than this are read without asking the system for
// its memory first: a small pair that does not fit fails as out of memory
// all the same, and a folder of small pairs asks nothing.
constexpr uint64_t c_cbAlwaysDecoded = 16 << 20;

struct Pair
{
    const std::string* paths[2];
    CImageFile files[2];
};

std::string Both(const Pair& pair)
{
    return Printable(*pair.paths[0]) + ", " + Printable(*pair.paths[1]);
}

std::string SizeText(const CImageFile& image)
{
    return std::to_string(image.Width()) + "x" + std::to_string(image.Height());
}

// Opens both files at once and checks that they can be compared with each
// other.
bool OpenPair(Pair& pair, int threads, PairResult& result)
{
    Trouble troubles[2] = {};
    COrderedPool(size_t(std::min(threads, 2))).RunAll(2, [&](size_t i) {
        troubles[i] = pair.files[i].Open(*pair.paths[i]);
    });
    for (int i = 0; i < 2; ++i) {
        if (troubles[i] != Trouble::None) {
            SetTrouble(result, troubles[i], Printable(*pair.paths[i]));
            return false;
        }
    }
    const CImageFile& a = pair.files[0];
    const CImageFile& b = pair.files[1];
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        SetTrouble(result, Trouble::SizeMismatch, Both(pair));
        result.message += " (" + SizeText(a) + ", " + SizeText(b) + ")";
        return false;
    }
    result.width = a.Width();
    result.height = a.Height();
    return true;
}

// Whatever can refuse the difference image does so before any work and
// before the output is touched.
bool CheckDiffImageTarget(const Pair& pair, const PairOptions& options, PairResult& result)
{
    const std::string& out = options.diffImage;
    if (out.empty())
        return true;
    // A link below the images' folder must not lead into an input folder.
    const bool intoInputs = std::any_of(options.inputFolders.begin(), options.inputFolders.end(),
                                        [&](const std::string& folder) { return Overlap(out, folder); });
    if (intoInputs || IsSameFile(out.c_str(), pair.paths[0]->c_str()) || IsSameFile(out.c_str(), pair.paths[1]->c_str())) {
        SetTrouble(result, Trouble::DiffImageIsInput, Printable(out));
        return false;
    }
    if (!CanWriteDiffImage(out, result.width, result.height)) {
        SetTrouble(result, Trouble::ImageTooLarge, Printable(out));
        return false;
    }
    return true;
}

// Two PNG files that look alike by their checksums: whether their image
// data is the same bytes, found out (with the first file's checksums) while
// the rest of the first file is checked beside it; when it is, they are
// equal if the first is sound, and its trouble is in `trouble`.
bool CheckPngTwins(const Pair& pair, int channels, Trouble& trouble)
{
    bool same = false, sound = false;
    COrderedPool(2).RunAll(2, [&](size_t i) {
        if (i == 0)
            same = pair.files[0].SamePngData(pair.files[1], &sound);
        else
            trouble = CPngRowDecoder(*pair.files[0].Png(), channels).Check(false);
    });
    if (same && trouble == Trouble::None && !sound)
        trouble = Trouble::PngDamaged;
    return same;
}

// The count, the bounding box, the regions and the list, from the judged
// rows.
class CTally : public CRowConsumer
{
public:
    CTally(const PairOptions& options, PairResult& result)
        : m_options(options), m_result(result), m_regions(options.maxRegions)
    {
    }

    bool Row(const JudgedRow& row) override
    {
        const size_t n = row.counted.size();
        if (n == 0)
            return true;
        DiffSummary& s = m_result.summary;
        const int32_t* xs = row.counted.data();
        s.left = s.count == 0 || xs[0] < s.left ? xs[0] : s.left;
        s.right = std::max(s.right, xs[n - 1]);
        s.top = s.count == 0 ? row.y : s.top;
        s.bottom = row.y;
        s.count += int64_t(n);
        if (m_options.bRegions)
            m_regions.AddRow(row.y, xs, n);
        for (size_t i = 0; m_options.bList && i < n; ++i) {
            if (!m_result.list.Append({uint16_t(xs[i]), uint16_t(row.y)}))
                return !(m_bOutOfMemory = true);
        }
        return true;
    }

    bool OutOfMemory() const { return m_bOutOfMemory; }

    void Finish()
    {
        m_regions.Finish();
        m_result.regions = m_regions.Largest();
        m_result.regionsLeftOut = m_regions.LeftOut();
    }

private:
    const PairOptions& m_options;
    PairResult& m_result;
    CRegionFinder m_regions;
    bool m_bOutOfMemory = false;
};

void Compare(Pair& pair, const PairOptions& options, PairResult& result)
{
    if (!OpenPair(pair, options.threads, result) || !CheckDiffImageTarget(pair, options, result))
        return;

    // Alpha is compared when either image has it.
    CImageFile& fileA = pair.files[0];
    CImageFile& fileB = pair.files[1];
    const int channels = fileA.HasAlpha() || fileB.HasAlpha() ? 4 : 3;
    const PixelRule& rule = options.rule;
    result.compared = CPixelJudge(ImageView{result.width, result.height, channels}, ImageView{}, rule).ComparedPixels();
    const bool images = !options.diffImage.empty() || !options.reportImages.empty();

    // Pixels from the same bytes are read once, or, with no picture to
    // draw, only checked.
    const bool twins = fileA.LooksLikeSamePng(fileB);
    if (twins && !images) {
        Trouble trouble = Trouble::None;
        if (CheckPngTwins(pair, channels, trouble)) {
            if (trouble == Trouble::None)
                trouble = fileA.CheckUnchanged() != Trouble::None ? Trouble::CannotRead : fileB.CheckUnchanged();
            if (trouble != Trouble::None)
                return SetTrouble(result, trouble, Both(pair));
            result.passed = true;
            return;
        }
    }

    PipelineSetup setup;
    setup.rule = &rule;
    setup.channels = channels;
    setup.bPlaces = options.NeedsJudge() || options.bList || images;
    // Colours as the files store them, where nothing reads them by name.
    setup.bFileOrder = fileA.Png() && fileB.Png() && !rule.Perceptual() && !rule.bAntialiasing;
    setup.bSameBytes = twins && images && fileA.SamePngData(fileB);
    setup.threads = options.threads;
    const uint64_t needed = fileA.StartMemory(channels) + (setup.bSameBytes ? 0 : fileB.StartMemory(channels));
    if (needed > c_cbAlwaysDecoded && needed > AvailableMemory())
        return SetTrouble(result, Trouble::OutOfMemory, Both(pair));

    const RowLayout layout{channels, setup.bFileOrder};
    CTally tally(options, result);
    std::vector<CRowConsumer*> consumers{&tally};
    CDiffImageOutput diffImage;
    if (!options.diffImage.empty()) {
        if (!diffImage.Open(options.diffImage, result.width, result.height, options.bDiffMask, layout,
                            options.diffImageFolder))
            return SetTrouble(result, Trouble::DiffImageNotWritten, Printable(options.diffImage));
        consumers.push_back(&diffImage);
    }
    CReportPictures report;
    if (!options.reportImages.empty()) {
        // A PNG difference image is the report's too: encoded once.
        const bool shared = !options.diffImage.empty() && IsPngName(options.diffImage) && !options.bDiffMask &&
                            CReportPictures::Reduction(result.width, result.height) == 1;
        if (!report.Open(options.reportImages, result.width, result.height, layout, !shared))
            return SetTrouble(result, Trouble::ReportNotWritten, Printable(options.reportImages));
        if (shared)
            diffImage.Tee(report.DiffBytes());
        else
            consumers.push_back(&report);
    }

    CImageFile* files[2] = {&fileA, &fileB};
    PipelineResult found;
    RunPipeline(files, setup, consumers, found);
    if (found.trouble != Trouble::None)
        return SetTrouble(result, found.trouble, found.troubled < 0 ? Both(pair) : Printable(*pair.paths[found.troubled]));
    if (tally.OutOfMemory())
        return SetTrouble(result, Trouble::OutOfMemory, Both(pair));
    if (found.bStopped)
        return SetTrouble(result, options.diffImage.empty() ? Trouble::ReportNotWritten : Trouble::DiffImageNotWritten,
                          Printable(options.diffImage.empty() ? options.reportImages : options.diffImage));
    if (!setup.bPlaces)
        result.summary = found.summary;
    result.antialiased = found.antialiased;
    result.morePictures[0] = fileA.MorePictures();
    result.morePictures[1] = fileB.MorePictures();
    tally.Finish();
    result.passed = Passes(options, result.summary.count, result.compared);
    // What --accept needs to copy a failing pair's files, and only them.
    for (int i = 0; i < 2 && !result.passed; ++i) {
        PairResult::FileDigest& digest = result.files[i];
        digest.bKnown = pair.files[i].Digest(digest.size, digest.crc);
    }

    // Outputs are put in place only now that both files proved unchanged.
    const bool differs = result.summary.count > 0;
    if (!options.diffImage.empty() && (differs || !options.bImageOnlyIfDiffering) && !diffImage.Commit())
        return SetTrouble(result, Trouble::DiffImageNotWritten, Printable(options.diffImage));
    if (!options.reportImages.empty() && differs) {
        // The pair's result stands without its pictures.
        if (!report.Commit(fileA, fileB)) {
            result.reportFailure = Printable(options.reportImages) + ": " + TroubleText(Trouble::ReportNotWritten);
            return;
        }
        result.reportImages = options.reportImages;
    }
}

} // namespace

void SetTrouble(PairResult& result, Trouble trouble, const std::string& where)
{
    result.trouble = trouble;
    result.message = where + ": " + TroubleText(trouble);
    // Nothing found before the trouble stands.
    result.summary = DiffSummary();
    result.antialiased = 0;
    result.regions.clear();
    result.regionsLeftOut = 0;
    result.list.Release();
}

std::string MorePicturesNote(const std::string& first, const std::string& second, const PairResult& result)
{
    std::string names;
    for (int i = 0; i < 2; ++i) {
        if (result.morePictures[i])
            names += (names.empty() ? "" : " and ") + Printable(i ? second : first);
    }
    if (names.empty())
        return names;
    const bool both = result.morePictures[0] && result.morePictures[1];
    return names + (both ? " hold" : " holds") + " more than one picture (an animation or pages); " +
           (both ? "their first pictures are" : "its first picture is") + " compared";
}

void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result)
{
    result.trouble = Trouble::None;
    result.message.clear();
    result.width = result.height = 0;
    result.summary = DiffSummary();
    result.antialiased = 0;
    result.compared = 0;
    result.passed = false;
    result.regions.clear();
    result.regionsLeftOut = 0;
    result.morePictures[0] = result.morePictures[1] = false;
    result.files[0] = result.files[1] = PairResult::FileDigest();
    result.reportImages.clear();
    result.reportFailure.clear();
    result.list.Clear();
    Pair pair{{&first, &second}, {}};
    // Memory can run out in any allocation, on any thread of the pair.
    try {
        Compare(pair, options, result);
    } catch (const std::bad_alloc&) {
        SetTrouble(result, Trouble::OutOfMemory, Both(pair));
    }
    if (!options.bList)
        result.list.Release();
}

bool Passes(const PairOptions& options, int64_t count, int64_t compared)
{
    if (count == 0)
        return true;
    return options.HasLimit() && (options.maxDiffPixels < 0 || count <= options.maxDiffPixels) &&
           (options.maxDiffRatio < 0 || double(count) <= options.maxDiffRatio * double(compared));
}
