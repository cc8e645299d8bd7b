#include "OrderedPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

// Results come to `take` in order, whatever the threads and window, and
// no more than `window` of them wait at once.
TEST(OrderedPool, TakesEveryResultInOrderWithinItsWindow)
{
    struct Row { size_t threads, window, count; };
    for (const Row& row : {Row{1, 1, 50}, Row{2, 1, 50}, Row{2, 4, 1000}, Row{4, 3, 200}, Row{3, 1000, 7}}) {
        SCOPED_TRACE(testing::Message() << row.threads << " threads, window " << row.window << ", " << row.count);
        COrderedPool pool(row.threads);
        std::atomic<int> held{0}, most{0};
        std::vector<size_t> taken;
        pool.Run(row.count, row.window,
                 [&](size_t index) {
                     most = std::max(most.load(), ++held);
                     return index * 3;
                 },
                 [&](size_t index, size_t result) {
                     EXPECT_EQ(result, index * 3);
                     taken.push_back(index);
                     --held;
                 });
        ASSERT_EQ(taken.size(), row.count);
        for (size_t i = 0; i < taken.size(); ++i)
            EXPECT_EQ(taken[i], i);
        EXPECT_LE(size_t(most.load()), row.window + 1);  // and the one being taken
    }
}

// A slot is free for the next result only once its result was taken out:
// results that own memory arrive whole under heavy contention.
TEST(OrderedPool, NeverOverwritesAResultBeingTaken)
{
    // Taking slowly gives the workers every chance to run ahead.
    for (const size_t window : {1, 3}) {
        COrderedPool pool(4);
        size_t wrong = 0;
        pool.Run(2000, window, [](size_t index) { return std::vector<size_t>(32, index); },
                 [&](size_t index, const std::vector<size_t>& result) {
                     wrong += result.size() != 32 || result.front() != index || result.back() != index;
                     std::this_thread::sleep_for(std::chrono::microseconds(20));
                 });
        EXPECT_EQ(wrong, 0u) << window;
    }
}

// While index k is taken, work on k + window may start, never on k + window
// + 1: what the window bounds is what waits to be taken.
TEST(OrderedPool, NeverRunsFurtherAheadThanItsWindow)
{
    for (const size_t window : {1, 2}) {
        SCOPED_TRACE(window);
        constexpr size_t c_nCount = 12;
        std::atomic<bool> started[c_nCount + 4] = {};
        COrderedPool pool(window + 3);
        pool.Run(c_nCount, window, [&](size_t index) { return started[index].store(true), index; },
                 [&](size_t index, size_t) {
                     const size_t allowed = index + window, beyond = allowed + 1;
                     const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                     while (allowed < c_nCount && !started[allowed] && std::chrono::steady_clock::now() < deadline)
                         std::this_thread::yield();
                     // Time enough for an idle worker to start one more.
                     std::this_thread::sleep_for(std::chrono::milliseconds(2));
                     EXPECT_FALSE(beyond < c_nCount && started[beyond]) << "taking " << index;
                 });
    }
}

// Every batch runs on the helpers too, the first one as well, however soon
// after the pool was made: two pieces of work that wait for each other end.
TEST(OrderedPool, RunsEveryBatchOnItsHelpersToo)
{
    for (int batch = 0; batch < 3; ++batch) {
        COrderedPool pool(2);
        std::atomic<int> arrived{0};
        bool met = true;
        std::mutex mutex;
        pool.RunAll(2, [&](size_t) {
            ++arrived;
            // Long enough for a thread to start, even under Wine.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (arrived < 2 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            std::lock_guard lock(mutex);
            met = met && arrived == 2;
        });
        EXPECT_TRUE(met) << "batch " << batch;
    }
}

// The first exception, from the work or from taking, comes out of Run after
// every thread stopped, and the pool runs the next batch as if nothing
// happened; a take that says false ends the batch quietly.
TEST(OrderedPool, CarriesTheFirstExceptionOutAndStops)
{
    struct Row { const char* name; size_t throwAt; bool inTake; bool outOfMemory; };
    for (const Row& row : {Row{"work", 5, false, false}, Row{"take", 5, true, false}, Row{"work, memory", 0, false, true},
                           Row{"take, last", 99, true, true}}) {
        SCOPED_TRACE(row.name);
        COrderedPool pool(3);
        std::atomic<size_t> worked{0};
        size_t takes = 0;
        const auto fail = [&] {
            if (row.outOfMemory)
                throw std::bad_alloc();
            throw std::runtime_error("failed");
        };
        const auto run = [&] {
            pool.Run(100, 4,
                     [&](size_t index) {
                         ++worked;
                         if (!row.inTake && index == row.throwAt)
                             fail();
                         return index;
                     },
                     [&](size_t index, size_t) {
                         ++takes;
                         if (row.inTake && index == row.throwAt)
                             fail();
                     });
        };
        if (row.outOfMemory)
            EXPECT_THROW(run(), std::bad_alloc);
        else
            EXPECT_THROW(run(), std::runtime_error);
        EXPECT_LE(takes, row.throwAt + 1);
        EXPECT_LT(worked.load(), row.throwAt + 1 + 4 + 1);
        std::atomic<size_t> again{0};
        pool.RunAll(10, [&](size_t) { ++again; });
        EXPECT_EQ(again.load(), 10u);
    }
    COrderedPool pool(2);
    size_t takes = 0;
    pool.Run(100, 2, [](size_t index) { return index; }, [&](size_t index, size_t) {
        ++takes;
        return index < 9;
    });
    EXPECT_EQ(takes, 10u);
}
