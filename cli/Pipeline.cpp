#include "Pipeline.h"

#include "OrderedPool.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>

namespace {

// The rows above and below a judged row that the anti-aliasing check reads:
// a neighbour's neighbours.
constexpr int32_t c_nHalo = 2;
// About this many bytes of each file are read at once: a sixteenth of the
// picture, between a quarter and one megabyte. Every window is new memory
// the system must map, which costs more than the hand-overs of smaller
// chunks in a small picture, and less than them in a large one.
constexpr int64_t c_cbLeastChunk = 256 << 10, c_cbMostChunk = 1 << 20;
// Rows judged on one thread at a time.
constexpr int32_t c_nBandRows = 32;
// Below this many pixels a second thread costs more than it saves.
constexpr int64_t c_nPixelsPerThread = 1 << 18;
// Judging goes wide, onto more threads than the calling one, after a chunk
// in which more than one pixel in this many went through the screenshot
// rule's measures: before that the files' readers have the cores.
constexpr int64_t c_nPixelsPerJudgedPixel = 64;

// What the rule found in a band of rows.
struct Band
{
    DiffSummary summary;  // the count alone
    std::vector<int32_t> counted;
    std::vector<int32_t> antialiased;
    std::vector<uint32_t> countedEnds;  // where each row's pixels end
    std::vector<uint32_t> antialiasedEnds;
};

// A file's rows as the pipeline holds them: the rows of the band being
// judged and those around it, or the whole picture read in place.
struct Window
{
    std::unique_ptr<uint8_t[]> buffer;  // left as allocated: every row is read in before it is used
    int32_t top = 0;     // the picture row at the buffer's start
    int32_t loaded = 0;  // the rows read so far
    bool bInPlace = false;
    ImageView view;
};

// Windows each file has: the one judged, the one being filled, and one to
// run ahead into when a file decodes faster for a while.
constexpr int c_nWindows = 3;

// One file's chunks of rows, filled in order into a ring of windows: by a
// thread of its own, independent of the other file's, or without one when
// the judge comes to them.
struct FileRows
{
    Window windows[c_nWindows];
    int32_t filled = 0;  // chunks filled (under the pipeline's lock)
    bool bDone = false;  // no more will be: all filled, trouble, or stopped
    Trouble trouble = Trouble::None;
    std::exception_ptr error;
    std::thread thread;
};

} // namespace

void RunPipeline(CImageFile* files[2], const PipelineSetup& setup, std::span<CRowConsumer* const> consumers,
                 PipelineResult& result)
{
    const int32_t width = files[0]->Width(), height = files[0]->Height();
    const int channels = setup.channels;
    const ptrdiff_t stride = ptrdiff_t(width) * channels;
    const int readers = setup.bSameBytes ? 1 : 2;
    const int64_t pixels = int64_t(width) * height;
    const size_t threads = size_t(std::clamp<int64_t>(pixels / c_nPixelsPerThread, 1, std::max(setup.threads, 1)));
    // Decoding is the slow part of most pairs: with threads to spare each
    // file is read on a thread of its own, whatever its size, ahead of the
    // judge and of the other file.
    const bool ahead = setup.threads > 1;

    FileRows rows[2];
    for (int i = 0; i < readers; ++i) {
        FileRows& file = rows[i];
        ImageView whole;
        const bool inPlace = channels == 3 && !setup.bFileOrder && files[i]->MappedPicture(whole);
        for (Window& window : file.windows) {
            window.bInPlace = inPlace;
            window.view = whole;
        }
    }

    const int32_t halo = setup.bPlaces && setup.rule->bAntialiasing ? c_nHalo : 0;
    // Pictures read in place are there whole: one chunk.
    const bool inPlace = rows[0].windows[0].bInPlace && rows[readers - 1].windows[0].bInPlace;
    const int64_t chunkBytes = std::clamp<int64_t>(pixels * channels / 16, c_cbLeastChunk, c_cbMostChunk);
    const int32_t chunkRows =
        inPlace ? std::max(height, 1)
                : int32_t(std::clamp<int64_t>(chunkBytes / std::max<ptrdiff_t>(stride, 1), c_nBandRows,
                                              std::max(height, 1)));
    const int32_t chunks = (height + chunkRows - 1) / chunkRows;
    // Eight bands a chunk or more, so that every thread has its share of
    // a chunk whose pixels take long to judge.
    const int32_t bandRows = std::clamp(chunkRows / 8, 1, c_nBandRows);
    // Pictures read in place leave the cores to the judge from the start.
    COrderedPool single(1);
    std::optional<COrderedPool> wide;
    COrderedPool* pool = inPlace ? &wide.emplace(threads) : &single;
    for (int i = 0; i < readers; ++i) {
        for (Window& window : rows[i].windows) {
            if (!window.bInPlace)
                window.buffer.reset(new uint8_t[size_t(chunkRows + 2 * halo) * size_t(stride)]);
        }
    }

    // Fills file i's window for chunk k with the rows the chunk needs: those
    // it shares with the chunk before, then the next from the file.
    const auto fill = [&](int i, int32_t k) {
        FileRows& file = rows[i];
        Window& window = file.windows[k % c_nWindows];
        if (window.bInPlace)
            return;
        // Begun on the reader's thread: a picture that decodes only whole
        // (a progressive JPEG, a WebP, an interlaced PNG) decodes there,
        // beside the other file.
        if (k == 0 && (file.trouble = files[i]->Start(channels, setup.bFileOrder)) != Trouble::None)
            return;
        const Window none;
        const Window& before = k > 0 ? file.windows[(k - 1) % c_nWindows] : none;
        const int32_t top = k * chunkRows;
        const int32_t wanted = std::min(height, std::min(height, top + chunkRows) + halo);
        // The chunk before read on to here or further: keep <= loaded.
        const int32_t keep = std::max(0, top - halo), loaded = before.loaded;
        uint8_t* buffer = window.buffer.get();
        if (loaded > keep)
            std::memcpy(buffer, before.buffer.get() + (keep - before.top) * stride, size_t(loaded - keep) * size_t(stride));
        window.top = keep;
        window.loaded = wanted;
        window.view = {width, height, channels, buffer, stride, keep};
        file.trouble = files[i]->Next(wanted - loaded, buffer + (loaded - keep) * stride);
    };

    // The readers' threads wait for a window the judge has let go of, and
    // the judge for a chunk both have filled.
    std::mutex mutex;
    std::condition_variable changed;
    int32_t released = 0;  // chunks judged
    bool stop = false;
    const auto read = [&](int i) {
        FileRows& file = rows[i];
        for (int32_t k = 0; k < chunks; ++k) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || released > k - c_nWindows; });
                if (stop)
                    break;
            }
            try {
                fill(i, k);
            } catch (...) {
                file.error = std::current_exception();
            }
            std::lock_guard lock(mutex);
            file.filled = k + 1;
            if (file.error || file.trouble != Trouble::None)
                break;
            changed.notify_all();
        }
        std::lock_guard lock(mutex);
        file.bDone = true;
        changed.notify_all();
    };
    // However the judging ends, the readers stop and are joined.
    struct Joiner
    {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        FileRows* rows;
        ~Joiner()
        {
            {
                std::lock_guard lock(mutex);
                stop = true;
            }
            changed.notify_all();
            for (int i = 0; i < 2; ++i) {
                if (rows[i].thread.joinable())
                    rows[i].thread.join();
            }
        }
    } joiner{mutex, changed, stop, rows};
    for (int i = 0; i < readers && ahead && chunks > 0; ++i) {
        if (rows[i].windows[0].bInPlace)
            continue;
        // Without a thread to spare (the system may refuse one), the judge
        // fills the windows itself.
        try {
            rows[i].thread = std::thread(read, i);
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }
    // Chunk k of file i, filled: by its thread, or here. False on trouble.
    const auto ready = [&](int i, int32_t k) {
        FileRows& file = rows[i];
        if (file.windows[0].bInPlace)
            return true;
        if (!file.thread.joinable()) {
            fill(i, k);
            file.filled = k + 1;
        } else {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return file.filled > k || file.bDone; });
        }
        if (file.error)
            std::rethrow_exception(file.error);
        if (file.filled <= k || file.trouble != Trouble::None) {
            result.trouble = file.trouble != Trouble::None ? file.trouble : Trouble::CannotRead;
            result.troubled = i;
            return false;
        }
        return true;
    };

    for (int32_t chunk = 0; chunk < chunks; ++chunk) {
        const int32_t top = chunk * chunkRows, end = std::min(height, top + chunkRows);
        for (int i = 0; i < readers; ++i) {
            if (!ready(i, chunk))
                return;
        }
        const ImageView& first = rows[0].windows[chunk % c_nWindows].view;
        const ImageView& second = rows[readers - 1].windows[chunk % c_nWindows].view;
        const CPixelJudge judge(first, second, *setup.rule);
        const size_t bands = size_t((end - top + bandRows - 1) / bandRows);
        const auto judgeBand = [&](size_t k) {
            const int32_t y0 = top + int32_t(k) * bandRows, y1 = std::min(end, y0 + bandRows);
            Band band;
            if (!setup.bPlaces) {
                SummarizeDifferences(first.Rows(y0, y1), second.Rows(y0, y1), setup.rule->tolerance, y0, band.summary);
                return band;
            }
            for (int32_t y = y0; y < y1; ++y) {
                judge.JudgeRow(y, band.counted, band.antialiased);
                band.countedEnds.push_back(uint32_t(band.counted.size()));
                band.antialiasedEnds.push_back(uint32_t(band.antialiased.size()));
            }
            return band;
        };
        bool stopped = false;
        int64_t judged = 0;  // pixels of the chunk the rule measured
        const auto takeBand = [&](size_t k, const Band& band) {
            if (!setup.bPlaces) {
                result.summary.Merge(band.summary);
                return true;
            }
            const int32_t y0 = top + int32_t(k) * bandRows;
            result.antialiased += int64_t(band.antialiased.size());
            judged += int64_t(band.counted.size() + band.antialiased.size());
            uint32_t counted = 0, antialiased = 0;
            for (size_t r = 0; r < band.countedEnds.size(); ++r) {
                const int32_t y = y0 + int32_t(r);
                const JudgedRow row{y,
                                    first.Row(y),
                                    second.Row(y),
                                    {band.counted.data() + counted, band.countedEnds[r] - counted},
                                    {band.antialiased.data() + antialiased, band.antialiasedEnds[r] - antialiased},
                                    judge};
                counted = band.countedEnds[r];
                antialiased = band.antialiasedEnds[r];
                for (CRowConsumer* consumer : consumers) {
                    if (!consumer->Row(row))
                        return !(stopped = true);
                }
            }
            return true;
        };
        pool->Run(bands, 2 * pool->Helpers() + 2, judgeBand, takeBand);
        if (!wide && threads > 1 && setup.rule->Perceptual() &&
            judged * c_nPixelsPerJudgedPixel > int64_t(end - top) * width) {
            wide.emplace(threads);
            pool = &*wide;
        }
        if (stopped) {
            result.bStopped = true;
            return;
        }
        {
            std::lock_guard lock(mutex);
            released = chunk + 1;
        }
        changed.notify_all();
    }
    // Both files, the one not read too: neither may have changed.
    Trouble troubles[2] = {};
    COrderedPool(ahead ? 2 : 1).RunAll(2, [&](size_t i) { troubles[i] = files[i]->Finish(); });
    for (int i = 0; i < 2 && result.trouble == Trouble::None; ++i) {
        result.trouble = troubles[i];
        result.troubled = i;
    }
}
