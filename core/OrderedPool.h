#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

// Threads that run numbered work and hand the results back in order.
//
// The calling thread works too: it takes each result as soon as it and all
// before it are done, and while the next one is not done it does work
// itself. So a pool whose helpers the system would not start still finishes,
// only slower. The first exception thrown by a piece of work or by `take`
// stops the batch: no new work starts, every helper finishes what it is
// doing, and the exception is rethrown to the caller of Run. No worker can
// end the process.
class COrderedPool
{
public:
    // `threads` counts the calling thread: 1 starts no helper.
    explicit COrderedPool(size_t threads);
    ~COrderedPool();
    COrderedPool(const COrderedPool&) = delete;
    COrderedPool& operator=(const COrderedPool&) = delete;

    // The helpers running, besides the calling thread.
    size_t Helpers() const { return m_helpers.size(); }

    // Runs `work(index)` for every index below `count` and calls
    // `take(index, result)` on the calling thread in index order. Work runs
    // at most `window` indices ahead of the one being taken, which bounds
    // the results held at once. A `take` that returns false stops the batch
    // after it (no exception). Not reentrant.
    template <typename Work, typename Take>
    void Run(size_t count, size_t window, Work&& work, Take&& take);

    // Runs `work(index)` for every index below `count`, in any order.
    template <typename Work>
    void RunAll(size_t count, Work&& work)
    {
        Run(count, count, [&](size_t index) { work(index); return true; }, [](size_t, bool) {});
    }

private:
    // What every thread does in a batch: claim an index, work, repeat.
    struct Batch
    {
        std::function<void(size_t index)> work;  // stores its own result
        size_t count = 0;
        size_t window = 1;
        size_t next = 0;   // the next index to claim
        size_t taken = 0;  // indices below this were taken
        std::vector<char> done;  // by slot: index % window
        std::exception_ptr error;
        bool bStop = false;
    };

    void Helper();
    // Claims an index that may be worked on now, or returns false; called
    // with the lock held.
    bool Claim(Batch& batch, size_t& index);
    // Works on `index` outside the lock and records the outcome.
    void DoWork(Batch& batch, size_t index, std::unique_lock<std::mutex>& lock);
    // `extract` moves a result out of its slot, under the lock, before the
    // slot may take another; `take` runs outside it.
    void RunBatch(Batch& batch, const std::function<void(size_t index)>& extract,
                  const std::function<bool(size_t index)>& take);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Batch* m_pBatch = nullptr;
    size_t m_nGeneration = 0;
    size_t m_nBusy = 0;  // helpers inside the current batch
    bool m_bQuit = false;
    std::vector<std::thread> m_helpers;
};

template <typename Work, typename Take>
void COrderedPool::Run(size_t count, size_t window, Work&& work, Take&& take)
{
    using Result = std::invoke_result_t<Work&, size_t>;
    if (count == 0)
        return;
    Batch batch;
    batch.count = count;
    batch.window = window < 1 ? 1 : window;
    batch.done.assign(batch.window, 0);
    std::vector<std::optional<Result>> slots(batch.window);
    batch.work = [&](size_t index) { slots[index % batch.window].emplace(work(index)); };
    std::optional<Result> current;
    const auto extract = [&](size_t index) {
        std::optional<Result>& slot = slots[index % batch.window];
        current.emplace(std::move(*slot));
        slot.reset();
    };
    RunBatch(batch, extract, [&](size_t index) {
        if constexpr (std::is_same_v<std::invoke_result_t<Take&, size_t, Result&>, bool>)
            return take(index, *current);
        else
            return take(index, *current), true;
    });
}

// The same on a pool of its own, for a single batch.
template <typename Work, typename Take>
void RunInOrder(size_t count, size_t threads, size_t window, Work&& work, Take&& take)
{
    COrderedPool pool(threads < count ? threads : count);
    pool.Run(count, window, std::forward<Work>(work), std::forward<Take>(take));
}
