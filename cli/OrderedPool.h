#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Runs `work(index)` for every index below `count` on `threads` threads and
// hands each result to `take(index, result)` on the calling thread, in index
// order, as soon as it and all before it are done. Workers run at most
// `window` indices ahead of the one being taken, which bounds the results
// held at once. `work` must not throw.
template <typename Result, typename Work, typename Take>
void RunInOrder(size_t count, size_t threads, size_t window, Work&& work, Take&& take)
{
    std::vector<std::unique_ptr<Result>> done(count);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, taken = 0;

    const auto worker = [&] {
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return next >= count || next < taken + window; });
                if (next >= count)
                    return;
                index = next++;
            }
            std::unique_ptr<Result> result = work(index);
            std::lock_guard lock(mutex);
            done[index] = std::move(result);
            changed.notify_all();
        }
    };

    std::vector<std::jthread> workers;
    for (size_t k = 0; k < std::min(threads, count); ++k)
        workers.emplace_back(worker);
    for (size_t index = 0; index < count; ++index) {
        std::unique_ptr<Result> result;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return done[index] != nullptr; });
            result = std::move(done[index]);
            taken = index + 1;
            changed.notify_all();
        }
        take(index, *result);
    }
}
