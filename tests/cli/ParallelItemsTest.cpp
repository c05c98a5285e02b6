// The one way the tool shares work out over threads: every item once, the lowest failing item's
// error whatever the threads' order, and a stop that starts nothing more.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cli/core/ParallelItems.h"

namespace {

using framemeld::cli::forEachItem;
using framemeld::cli::forEachItemPerThread;
using framemeld::cli::ItemWork;

TEST(ParallelItems, EveryItemRunsOnceOnAnyThreadCount)
{
    for (const int threads : {0, 1, 2, 7, 64}) {
        for (const std::size_t count : {0U, 1U, 5U, 300U}) {
            std::vector<std::atomic<int>> runs(count);
            forEachItem(count, threads, [&](std::size_t i) { ++runs[i]; });
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(runs[i].load(), 1)
                    << threads << " threads, item " << i << " of " << count;
            }
        }
    }
}

TEST(ParallelItems, TheLowestFailingItemsErrorIsTheOneRethrown)
{
    for (const int threads : {1, 2, 4}) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            // Items 3 and 40 fail; 3 is late on purpose, so 40 may well fail first.
            try {
                forEachItem(64, threads, [](std::size_t i) {
                    if (i == 3) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        throw std::runtime_error("item 3");
                    }
                    if (i == 40) {
                        throw std::runtime_error("item 40");
                    }
                });
                ADD_FAILURE() << "nothing was thrown";
            } catch (const std::runtime_error &error) {
                // With one thread item 3 stops everything before 40 runs; with more, 40 may
                // have failed first, and 3 is still the one named.
                EXPECT_EQ(std::string(error.what()), "item 3") << threads << " threads";
            }
        }
    }
}

TEST(ParallelItems, AFailureOrAStopStartsNoFurtherItem)
{
    std::vector<std::size_t> ran;
    EXPECT_THROW(forEachItem(10, 1,
                             [&](std::size_t i) {
                                 ran.push_back(i);
                                 if (i == 4) {
                                     throw std::runtime_error("stop");
                                 }
                             }),
                 std::runtime_error);
    EXPECT_EQ(ran, (std::vector<std::size_t>{0, 1, 2, 3, 4}));

    std::atomic<int> done{0};
    forEachItem(
        1000, 3, [&](std::size_t) { ++done; }, [&] { return done.load() >= 10; });
    // Each of the three threads may have had one item under way when the count reached 10.
    EXPECT_GE(done.load(), 10);
    EXPECT_LE(done.load(), 12);
}

TEST(ParallelItems, EachThreadMakesItsStateOnceAndKeepsItToItself)
{
    std::mutex lock;
    std::set<std::thread::id> makers;
    std::atomic<int> made{0};
    std::atomic<bool> shared{false};
    forEachItemPerThread(200, 4, [&]() -> ItemWork {
        ++made;
        {
            const std::lock_guard<std::mutex> hold(lock);
            makers.insert(std::this_thread::get_id());
        }
        const std::thread::id owner = std::this_thread::get_id();
        return [&shared, owner](std::size_t) {
            if (std::this_thread::get_id() != owner) {
                shared = true;
            }
        };
    });
    EXPECT_LE(made.load(), 4);
    EXPECT_EQ(makers.size(), static_cast<std::size_t>(made.load()));
    EXPECT_FALSE(shared.load());

    EXPECT_THROW(
        forEachItemPerThread(5, 2, []() -> ItemWork { throw std::runtime_error("no decoder"); }),
        std::runtime_error);
}

} // namespace
