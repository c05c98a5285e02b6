#include "runner/detail/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using framemeld::runner::WorkerPool;

namespace {

TEST(WorkerPool, EveryWorkerRunsTheTaskOnceOnItsOwnThread)
{
    WorkerPool pool(4);
    ASSERT_EQ(pool.size(), 4U);
    for (int round = 0; round < 20; ++round) {
        std::mutex mutex;
        std::vector<unsigned> indices;
        std::set<std::thread::id> threads;
        pool.runOnEveryWorker([&](unsigned index) {
            EXPECT_EQ(pool.currentWorkerIndex(), index);
            std::lock_guard<std::mutex> lock(mutex);
            indices.push_back(index);
            threads.insert(std::this_thread::get_id());
        });
        std::sort(indices.begin(), indices.end());
        EXPECT_EQ(indices, (std::vector<unsigned>{0, 1, 2, 3}));
        EXPECT_EQ(threads.size(), 4U);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0U);
    }
    EXPECT_FALSE(pool.currentWorkerIndex().has_value());
}

// Workers watch for the next dispatch for a moment before they sleep; dispatches that come at
// once and ones that come after the workers slept must both reach every worker.
TEST(WorkerPool, DispatchesReachWatchingAndSleepingWorkersAlike)
{
    WorkerPool pool(3);
    std::atomic<int> runs{0};
    for (int round = 0; round < 6; ++round) {
        pool.runOnEveryWorker([&](unsigned) { ++runs; });
        if (round % 2 == 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(runs.load(), 18);
}

TEST(WorkerPool, DefaultsToAtLeastOneWorker)
{
    WorkerPool pool;
    EXPECT_GE(pool.size(), 1U);
}

TEST(WorkerPool, ADispatchFromInsideATaskRunsInlineOnThatWorker)
{
    WorkerPool pool(3);
    std::atomic<int> inner{0};
    pool.runOnEveryWorker([&](unsigned outer) {
        pool.runOnEveryWorker([&](unsigned index) {
            EXPECT_EQ(index, outer);
            ++inner;
        });
    });
    EXPECT_EQ(inner.load(), 3);
}

TEST(WorkerPool, DispatchesFromSeveralThreadsTakeTurns)
{
    WorkerPool pool(2);
    std::atomic<int> busy{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> runs{0};
    auto dispatcher = [&] {
        for (int i = 0; i < 50; ++i) {
            pool.runOnEveryWorker([&](unsigned) {
                if (++busy > 2) {
                    ++overlaps;
                }
                ++runs;
                --busy;
            });
        }
    };
    std::thread a(dispatcher);
    std::thread b(dispatcher);
    a.join();
    b.join();
    EXPECT_EQ(runs.load(), 200);
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(WorkerPool, RethrowsATaskExceptionAfterAllWorkersFinished)
{
    WorkerPool pool(3);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.runOnEveryWorker([&](unsigned index) {
        ++finished;
        if (index == 1) {
            throw std::runtime_error("worker failed");
        }
    }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 3);
    // The pool stays usable.
    pool.runOnEveryWorker([&](unsigned) { ++finished; });
    EXPECT_EQ(finished.load(), 6);
}

} // namespace
