#include "PairCompare.h"

#include "DiffImage.h"
#include "ImageFile.h"
#include "OrderedPool.h"
#include "Platform.h"
#include "Printable.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Below this many pixels a second thread costs more than it saves.
constexpr int64_t c_nPixelsPerThread = 1 << 20;
// PNG files decoded band by band: rows a band, and how many bands the
// second file may run ahead of the comparison.
constexpr int32_t c_nPngBandRows = 16;
constexpr int c_nPngBandsAhead = 4;
// Pairs that need less than this are decoded without asking the system for
// its memory first: a small pair that does not fit fails as out of memory
// all the same, and a folder of small pairs asks nothing.
constexpr uint64_t c_cbAlwaysDecoded = 16 << 20;
// Pairs judged by a rule: rows a band, each band judged on one thread.
constexpr int32_t c_nJudgedBandRows = 32;

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

// Runs `step(i)` for both files at once, the second on a thread of its own
// (for the first only, with `firstOnly`); false, with the trouble of the
// first file that has one in `result`, when a step failed.
template <typename Step>
bool OnBoth(const Pair& pair, PairResult& result, Step&& step, bool firstOnly = false)
{
    Trouble troubles[2] = {};
    {
        std::jthread other;
        if (!firstOnly)
            other = std::jthread([&] { troubles[1] = step(1); });
        troubles[0] = step(0);
    }
    for (int i = 0; i < 2; ++i) {
        if (troubles[i] != Trouble::None) {
            SetTrouble(result, troubles[i], Printable(*pair.paths[i]));
            return false;
        }
    }
    return true;
}

// Opens both files at once (a PNG is read and checked whole) and checks
// that they can be compared with each other.
bool OpenPair(Pair& pair, PairResult& result)
{
    if (!OnBoth(pair, result, [&](int i) { return pair.files[i].Open(*pair.paths[i]); }))
        return false;
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
bool CheckDiffImageTarget(const Pair& pair, const std::string& out, PairResult& result)
{
    if (out.empty())
        return true;
    if (IsSameFile(out.c_str(), pair.paths[0]->c_str()) || IsSameFile(out.c_str(), pair.paths[1]->c_str())) {
        SetTrouble(result, Trouble::DiffImageIsInput, Printable(out));
        return false;
    }
    if (!CanWriteDiffImage(out, result.width, result.height)) {
        SetTrouble(result, Trouble::ImageTooLarge, Printable(out));
        return false;
    }
    return true;
}

// The count of two BMP files, read band by band on `threads` threads: no
// picture is held whole, each thread reuses two small buffers.
Trouble CountBmpBands(const Pair& pair, unsigned tolerance, int threads, DiffSummary& summary)
{
    const CImageFile& a = pair.files[0];
    const CImageFile& b = pair.files[1];
    const int64_t pixels = int64_t(a.Width()) * a.Height();
    const int parts = int(std::clamp<int64_t>(pixels / c_nPixelsPerThread, 1, std::max(threads, 1)));
    const int32_t bandRows = std::min(a.RowsPerBand(c_cbReadBand), b.RowsPerBand(c_cbReadBand));
    std::vector<DiffSummary> found(static_cast<size_t>(parts));
    std::vector<Trouble> troubles(size_t(parts), Trouble::None);
    const auto part = [&](int k) {
        const int32_t first = int32_t(int64_t(a.Height()) * k / parts);
        const int32_t end = int32_t(int64_t(a.Height()) * (k + 1) / parts);
        std::vector<uint8_t> buffers[2];
        for (int32_t top = first; top < end; top += bandRows) {
            const int32_t bottom = std::min(end, top + bandRows);
            ImageView rows[2];
            for (int i = 0; i < 2; ++i) {
                troubles[size_t(k)] = pair.files[i].ReadRows(top, bottom, buffers[i], rows[i]);
                if (troubles[size_t(k)] != Trouble::None)
                    return;
            }
            DiffSummary band;
            SummarizeDifferences(rows[0], rows[1], tolerance, top, band);
            found[size_t(k)].Merge(band);
        }
    };
    try {
        std::vector<std::jthread> workers;
        for (int k = 1; k < parts; ++k)
            workers.emplace_back(part, k);
        part(0);
    } catch (const std::bad_alloc&) {
        return Trouble::OutOfMemory;
    }
    summary = DiffSummary();
    for (int k = 0; k < parts; ++k) {
        if (troubles[size_t(k)] != Trouble::None)
            return troubles[size_t(k)];
        summary.Merge(found[size_t(k)]);
    }
    return Trouble::None;
}

// The count of two PNG files decoded a band of rows at a time, both at
// once: the second file on a thread of its own up to a few bands ahead, the
// first here, each band compared as soon as both files have it. Nothing is
// held whole. The colours stay in the files' order: a count does not need
// them reordered. Returns the trouble and which file it is in.
Trouble CountPngBands(const Pair& pair, int channels, unsigned tolerance, DiffSummary& summary, int& troubled)
{
    const PngFile& first = *pair.files[0].Png();
    const int32_t width = first.width, height = first.height;
    const ptrdiff_t stride = ptrdiff_t(width) * channels;
    const size_t bandBytes = size_t(c_nPngBandRows) * size_t(stride);

    std::vector<std::vector<uint8_t>> ahead(c_nPngBandsAhead, std::vector<uint8_t>(bandBytes));
    std::mutex mutex;
    std::condition_variable changed;
    int decoded = 0, compared = 0;
    bool stop = false;
    Trouble second = Trouble::None;
    std::jthread other([&] {
        CPngRowDecoder decoder(*pair.files[1].Png(), channels, true);
        Trouble trouble = Trouble::None;
        for (int32_t top = 0, k = 0; top < height && trouble == Trouble::None; top += c_nPngBandRows, ++k) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || decoded - compared < c_nPngBandsAhead; });
                if (stop)
                    return;
            }
            trouble = decoder.Rows(std::min(c_nPngBandRows, height - top), ahead[size_t(k) % ahead.size()].data());
            std::lock_guard lock(mutex);
            second = trouble;
            decoded += trouble == Trouble::None;
            changed.notify_all();
        }
        const Trouble finished = trouble == Trouble::None ? decoder.Finish() : trouble;
        std::lock_guard lock(mutex);
        second = finished;
        stop = stop || finished != Trouble::None;
        changed.notify_all();
    });
    const auto stopOther = [&] {
        std::lock_guard lock(mutex);
        stop = true;
        changed.notify_all();
    };

    CPngRowDecoder decoder(first, channels, true);
    std::vector<uint8_t> band(bandBytes);
    summary = DiffSummary();
    for (int32_t top = 0, k = 0; top < height; top += c_nPngBandRows, ++k) {
        const int32_t rows = std::min(c_nPngBandRows, height - top);
        if (const Trouble trouble = decoder.Rows(rows, band.data()); trouble != Trouble::None) {
            stopOther();
            troubled = 0;
            return trouble;
        }
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return decoded > k || second != Trouble::None; });
        if (second != Trouble::None) {
            troubled = 1;
            return second;
        }
        lock.unlock();
        const ImageView a{width, rows, channels, band.data(), stride};
        const ImageView b{width, rows, channels, ahead[size_t(k) % ahead.size()].data(), stride};
        DiffSummary found;
        SummarizeDifferences(a, b, tolerance, top, found);
        summary.Merge(found);
        lock.lock();
        ++compared;
        changed.notify_all();
    }
    if (const Trouble trouble = decoder.Finish(); trouble != Trouble::None) {
        stopOther();
        troubled = 0;
        return trouble;
    }
    other.join();
    troubled = 1;
    return second;
}

// Two PNG files that look alike by their checksums: whether their image
// data is the same bytes, found out on a thread of its own (which checks
// the first file's checksums on the way) while the rest of the first file
// is checked here; when it is, they are equal if the first is sound, and
// its trouble is in `trouble`.
bool CheckPngTwins(const Pair& pair, int channels, Trouble& trouble)
{
    bool same = false, sound = false;
    std::jthread other([&] { same = pair.files[0].SamePngData(pair.files[1], &sound); });
    CPngRowDecoder decoder(*pair.files[0].Png(), channels);
    trouble = decoder.Check(false);
    other.join();
    if (same && trouble == Trouble::None && !sound)
        trouble = Trouble::PngDamaged;
    return same;
}

// Both pictures whole, decoded at once, when the memory at hand takes them;
// one only when both come from the same bytes.
bool DecodePair(const Pair& pair, int channels, bool same, CImage images[2], PairResult& result)
{
    const uint64_t needed = pair.files[0].DecodeMemory(channels) * (same ? 1 : 2);
    if (needed > c_cbAlwaysDecoded && needed > AvailableMemory()) {
        SetTrouble(result, Trouble::OutOfMemory, Both(pair));
        return false;
    }
    return OnBoth(pair, result, [&](int i) { return pair.files[i].Decode(channels, images[i]); }, same);
}

// The list of differing pixels, and their count and bounding box from it.
bool ListDifferences(const ImageView& a, const ImageView& b, unsigned tolerance, const std::string& where,
                     PairResult& result)
{
    const int count = ScanDifferences(a, b, tolerance, result.list);
    if (count < 0) {
        SetTrouble(result, TroubleOf(-count), where);
        return false;
    }
    DiffSummary& s = result.summary;
    s.count = count;
    for (int i = 0; i < count; ++i) {
        const DiffPoint p = result.list[i];
        s.left = s.left < 0 || p.x < s.left ? p.x : s.left;
        s.right = p.x > s.right ? p.x : s.right;
    }
    if (count > 0) {
        s.top = result.list[0].y;
        s.bottom = result.list[count - 1].y;
    }
    return true;
}

// What the rule found in a band of rows.
struct JudgedBand
{
    std::vector<int32_t> counted;   // the x of each counted pixel, row after row
    std::vector<size_t> rowEnds;    // where each row's pixels end in `counted`
    int64_t antialiased = 0;
    bool bOutOfMemory = false;
};

// Judges every pixel of the pair by the rule, bands of rows side by side on
// the threads, and takes the bands in order for the count, the regions and
// the list: memory holds a few bands, never a picture's worth of marks.
bool JudgePair(const CPixelJudge& judge, int32_t width, int32_t height, const PairOptions& options,
               const std::string& where, PairResult& result)
{
    const size_t bands = size_t((height + c_nJudgedBandRows - 1) / c_nJudgedBandRows);
    const int64_t pixels = int64_t(width) * height;
    const size_t threads = size_t(std::clamp<int64_t>(pixels / c_nPixelsPerThread, 1, std::max(options.threads, 1)));
    std::vector<std::unique_ptr<JudgedBand>> found(bands);
    for (auto& band : found)
        band = std::make_unique<JudgedBand>();

    CRegionFinder regions(options.maxRegions);
    DiffSummary& s = result.summary;
    bool troubled = false;
    const auto judgeBand = [&](size_t k) {
        std::unique_ptr<JudgedBand> band = std::move(found[k]);
        const int32_t top = int32_t(k) * c_nJudgedBandRows;
        const int32_t end = std::min(height, top + c_nJudgedBandRows);
        try {
            std::vector<int32_t> antialiased;
            for (int32_t y = top; y < end; ++y) {
                judge.JudgeRow(y, band->counted, antialiased);
                band->rowEnds.push_back(band->counted.size());
            }
            band->antialiased = int64_t(antialiased.size());
        } catch (const std::bad_alloc&) {
            band->bOutOfMemory = true;
        }
        return band;
    };
    const auto takeBand = [&](size_t k, const JudgedBand& band) {
        troubled = troubled || band.bOutOfMemory;
        if (troubled)
            return;
        result.antialiased += band.antialiased;
        size_t from = 0;
        for (size_t r = 0; r < band.rowEnds.size(); from = band.rowEnds[r++]) {
            const size_t n = band.rowEnds[r] - from;
            if (n == 0)
                continue;
            const int32_t y = int32_t(k) * c_nJudgedBandRows + int32_t(r);
            const int32_t* xs = band.counted.data() + from;
            s.left = s.count == 0 || xs[0] < s.left ? xs[0] : s.left;
            s.right = std::max(s.right, xs[n - 1]);
            s.top = s.count == 0 ? y : s.top;
            s.bottom = y;
            s.count += int64_t(n);
            if (options.bRegions)
                regions.AddRow(y, xs, n);
            for (size_t i = 0; options.bList && i < n && !troubled; ++i)
                troubled = !result.list.Append({uint16_t(xs[i]), uint16_t(y)});
        }
    };
    RunInOrder<JudgedBand>(bands, threads, 2 * threads + 2, judgeBand, takeBand);
    if (troubled) {
        SetTrouble(result, Trouble::OutOfMemory, where);
        return false;
    }
    regions.Finish();
    result.regions = regions.Largest();
    result.regionsLeftOut = regions.LeftOut();
    return true;
}

// A file changed while it was read gives no result, whatever was read.
bool CheckUnchanged(const Pair& pair, PairResult& result)
{
    for (int i = 0; i < 2; ++i) {
        if (pair.files[i].CheckUnchanged() != Trouble::None) {
            SetTrouble(result, Trouble::CannotRead, Printable(*pair.paths[i]));
            return false;
        }
    }
    return true;
}

template <typename Write>
bool WriteDiffImageFor(const PairOptions& options, PairResult& result, Write&& write)
{
    const std::string& out = options.diffImage;
    if (options.bImageOnlyIfDiffering) {
        if (result.summary.count == 0)
            return true;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(std::u8string(out.begin(), out.end())).parent_path(),
                                            ignored);
    }
    if (const Trouble trouble = write(out); trouble != Trouble::None) {
        SetTrouble(result, trouble, Printable(out));
        return false;
    }
    return true;
}

} // namespace

void SetTrouble(PairResult& result, Trouble trouble, const std::string& where)
{
    result.trouble = trouble;
    result.message = where + ": " + TroubleText(trouble);
    result.list.Release();
}

void ComparePair(const std::string& first, const std::string& second, const PairOptions& options, PairResult& result)
{
    result.trouble = Trouble::None;
    result.message.clear();
    result.summary = DiffSummary();
    result.antialiased = 0;
    result.compared = 0;
    result.passed = false;
    result.regions.clear();
    result.regionsLeftOut = 0;
    result.reportImages.clear();
    result.list.Clear();

    Pair pair{{&first, &second}, {}};
    if (!OpenPair(pair, result) || !CheckDiffImageTarget(pair, options.diffImage, result))
        return;

    // Alpha is compared when either image has it.
    const CImageFile& fileA = pair.files[0];
    const CImageFile& fileB = pair.files[1];
    const int channels = fileA.HasAlpha() || fileB.HasAlpha() ? 4 : 3;
    const bool wantsPlaces = options.bList || !options.diffImage.empty();
    // Pixels from the same bytes are decoded once.
    const bool twins = fileA.LooksLikeSamePng(fileB);
    const auto same = [&] { return twins && fileA.SamePngData(fileB); };
    const bool streams = fileA.Png() && fileB.Png() && CPngRowDecoder::Streams(*fileA.Png()) &&
                         CPngRowDecoder::Streams(*fileB.Png());
    result.compared = int64_t(result.width) * result.height;
    if (options.NeedsJudge()) {
        // The rule reads neighbours across rows: BMP files are judged in
        // their mappings, other pairs decoded whole.
        ImageView views[2];
        CImage images[2];
        if (!fileA.IsBmp() || !fileB.IsBmp() || !fileA.MappedPicture(views[0]) || !fileB.MappedPicture(views[1])) {
            const bool once = same();
            if (!DecodePair(pair, channels, once, images, result))
                return;
            views[0] = images[0].View();
            views[1] = (once ? images[0] : images[1]).View();
        }
        const CPixelJudge judge(views[0], views[1], options.rule);
        result.compared = judge.ComparedPixels();
        if (!JudgePair(judge, result.width, result.height, options, Both(pair), result) ||
            !CheckUnchanged(pair, result))
            return;
        if (!options.diffImage.empty() && !WriteDiffImageFor(options, result, [&](const std::string& out) {
                return WriteDiffImage(out, views[0], judge, options.bDiffMask);
            }))
            return;
        if (!options.reportImages.empty() && result.summary.count > 0) {
            if (const Trouble trouble = WriteReportImages(options.reportImages, views[0], views[1], judge);
                trouble != Trouble::None)
                return SetTrouble(result, trouble, Printable(options.reportImages));
            result.reportImages = options.reportImages;
        }
    } else if (!wantsPlaces && fileA.IsBmp() && fileB.IsBmp()) {
        if (const Trouble trouble = CountBmpBands(pair, options.rule.tolerance, options.threads, result.summary);
            trouble != Trouble::None)
            return SetTrouble(result, trouble, Both(pair));
    } else if (!wantsPlaces && streams) {
        int troubled = 0;
        Trouble trouble = Trouble::None;
        if (twins && CheckPngTwins(pair, channels, trouble))
            result.summary = DiffSummary();
        else
            trouble = CountPngBands(pair, channels, options.rule.tolerance, result.summary, troubled);
        if (trouble != Trouble::None)
            return SetTrouble(result, trouble, Printable(*pair.paths[troubled]));
    } else {
        CImage images[2];
        const bool once = same();
        if (!DecodePair(pair, channels, once, images, result))
            return;
        const ImageView a = images[0].View(), b = (once ? images[0] : images[1]).View();
        if (wantsPlaces) {
            // The difference image needs every pixel's place, as a list does.
            if (!ListDifferences(a, b, options.rule.tolerance, Both(pair), result))
                return;
        } else if (const int failed = SummarizeDifferences(a, b, options.rule.tolerance, 0, result.summary)) {
            return SetTrouble(result, TroubleOf(-failed), Both(pair));
        }
        if (!CheckUnchanged(pair, result) ||
            (!options.diffImage.empty() &&
             !WriteDiffImageFor(options, result, [&](const std::string& out) { return WriteDiffImage(out, a, result.list); })))
            return;
    }
    if (!CheckUnchanged(pair, result))
        return;
    if (!options.bList)
        result.list.Release();
    result.passed = Passes(options, result.summary.count, result.compared);
}

bool Passes(const PairOptions& options, int64_t count, int64_t compared)
{
    if (count == 0)
        return true;
    return options.HasLimit() && (options.maxDiffPixels < 0 || count <= options.maxDiffPixels) &&
           (options.maxDiffRatio < 0 || double(count) <= options.maxDiffRatio * double(compared));
}
