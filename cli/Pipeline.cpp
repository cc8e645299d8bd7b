#include "Pipeline.h"

#include "OrderedPool.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

namespace {

// The rows above and below a judged row that the anti-aliasing check reads:
// a neighbour's neighbours.
constexpr int32_t c_nHalo = 2;
// About this many bytes of each file are read at once.
constexpr size_t c_cbChunk = 1 << 20;
// Rows judged on one thread at a time.
constexpr int32_t c_nBandRows = 32;
// Below this many pixels a second thread costs more than it saves.
constexpr int64_t c_nPixelsPerThread = 1 << 20;

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
    COrderedPool pool(threads);
    // Decoding is the slow part of most pairs: with threads to spare both
    // files are read at once, whatever their size, and the next rows while
    // these are judged.
    const bool ahead = setup.threads > 1;
    COrderedPool readPool(ahead ? size_t(readers) : 1);

    // Two sets of windows: one judged while the other is filled.
    Window sets[2][2];
    Trouble troubles[2] = {};
    const auto failed = [&] {
        for (int i = 0; i < readers; ++i) {
            if (troubles[i] != Trouble::None) {
                result.trouble = troubles[i];
                result.troubled = i;
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < readers; ++i) {
        Window& window = sets[0][i];
        window.bInPlace = channels == 3 && !setup.bFileOrder && files[i]->MappedPicture(window.view);
        sets[1][i].bInPlace = window.bInPlace;
        sets[1][i].view = window.view;
        if (!window.bInPlace)
            troubles[i] = files[i]->Start(channels, setup.bFileOrder);
    }
    if (failed())
        return;

    const int32_t halo = setup.bPlaces && setup.rule->bAntialiasing ? c_nHalo : 0;
    // Pictures read in place are there whole: one band of bands.
    const bool inPlace = sets[0][0].bInPlace && sets[0][readers - 1].bInPlace;
    const int32_t chunkRows =
        inPlace ? std::max(height, 1)
                : int32_t(std::clamp<int64_t>(int64_t(c_cbChunk) / std::max<ptrdiff_t>(stride, 1), c_nBandRows,
                                              std::max(height, 1)));
    for (auto& set : sets) {
        for (int i = 0; i < readers; ++i) {
            if (!set[i].bInPlace)
                set[i].buffer.reset(new uint8_t[size_t(chunkRows + 2 * halo) * size_t(stride)]);
        }
    }
    // Fills `set` with the rows the band from `top` needs: those it shares
    // with the band before (in `before`), then the next from the files.
    const auto fill = [&](Window* set, const Window* before, int32_t top) {
        const int32_t wanted = std::min(height, std::min(height, top + chunkRows) + halo);
        readPool.RunAll(size_t(readers), [&](size_t i) {
            Window& window = set[i];
            if (window.bInPlace)
                return;
            const int32_t keep = std::max(0, top - halo), loaded = before[i].loaded;
            uint8_t* buffer = window.buffer.get();
            if (loaded > keep)
                std::memcpy(buffer, before[i].buffer.get() + (keep - before[i].top) * stride,
                            size_t(loaded - keep) * size_t(stride));
            window.top = keep;
            troubles[i] = files[i]->Next(wanted - loaded, buffer + (loaded - keep) * stride);
            window.loaded = wanted;
            window.view = {width, height, channels, buffer, stride, keep};
        });
    };

    const Window none[2];
    fill(sets[0], none, 0);
    if (failed())
        return;
    int current = 0;
    for (int32_t top = 0; top < height;) {
        const int32_t end = std::min(height, top + chunkRows);
        const Window* set = sets[current];
        Window* next = sets[1 - current];
        // The next rows are read on a thread of their own meanwhile; an
        // exception there comes out here, after it joined.
        std::exception_ptr readError;
        std::jthread reader;
        if (end < height) {
            const auto read = [&] {
                try {
                    fill(next, set, end);
                } catch (...) {
                    readError = std::current_exception();
                }
            };
            // Without a thread to spare (the system may refuse one), here.
            try {
                if (ahead)
                    reader = std::jthread(read);
            } catch (const std::system_error&) {
            }
            if (!reader.joinable())
                read();
        }

        const ImageView& first = set[0].view;
        const ImageView& second = set[readers - 1].view;
        const CPixelJudge judge(first, second, *setup.rule);
        const size_t bands = size_t((end - top + c_nBandRows - 1) / c_nBandRows);
        const auto judgeBand = [&](size_t k) {
            const int32_t y0 = top + int32_t(k) * c_nBandRows, y1 = std::min(end, y0 + c_nBandRows);
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
        const auto takeBand = [&](size_t k, const Band& band) {
            if (!setup.bPlaces) {
                result.summary.Merge(band.summary);
                return true;
            }
            const int32_t y0 = top + int32_t(k) * c_nBandRows;
            result.antialiased += int64_t(band.antialiased.size());
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
        try {
            pool.Run(bands, 2 * pool.Helpers() + 2, judgeBand, takeBand);
        } catch (...) {
            if (reader.joinable())
                reader.join();
            throw;
        }
        if (reader.joinable())
            reader.join();
        if (readError)
            std::rethrow_exception(readError);
        if (stopped) {
            result.bStopped = true;
            return;
        }
        if (failed())
            return;
        current = 1 - current;
        top = end;
    }
    // Both files, the one not read too: neither may have changed.
    readPool.RunAll(2, [&](size_t i) { troubles[i] = files[i]->Finish(); });
    for (int i = 0; i < 2 && result.trouble == Trouble::None; ++i) {
        result.trouble = troubles[i];
        result.troubled = i;
    }
}
