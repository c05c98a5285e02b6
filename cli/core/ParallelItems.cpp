#include "cli/core/ParallelItems.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace framemeld::cli {
namespace {

// A thread whose state could not be made failed before any item; an item's own failure, which
// names a frame, is reported before it.
constexpr std::size_t kBeforeAnyItem = std::numeric_limits<std::size_t>::max();

} // namespace

void forEachItemPerThread(std::size_t count, int threads, const std::function<ItemWork()> &makeWork,
                          const std::function<bool()> &stopped)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex failureLock;
    std::exception_ptr failure;
    std::size_t failedItem = 0;
    const auto fail = [&](std::size_t item) {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (!failure || item < failedItem) {
            failedItem = item;
            failure = std::current_exception();
        }
        failed = true;
    };
    const auto run = [&] {
        ItemWork work;
        try {
            work = makeWork();
        } catch (...) {
            fail(kBeforeAnyItem);
            return;
        }
        while (!failed.load() && !(stopped && stopped())) {
            const std::size_t item = next.fetch_add(1);
            if (item >= count) {
                return;
            }
            try {
                work(item);
            } catch (...) {
                fail(item);
            }
        }
    };
    const auto helpers =
        std::min(count, static_cast<std::size_t>(std::max(1, threads))) - (count > 0 ? 1 : 0);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    try {
        for (std::size_t t = 0; t < helpers; ++t) {
            pool.emplace_back(run);
        }
    } catch (const std::system_error &) {
        // No more threads to be had: those already running and this one do the work.
    }
    run();
    for (std::thread &thread : pool) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void forEachItem(std::size_t count, int threads, const ItemWork &work,
                 const std::function<bool()> &stopped)
{
    forEachItemPerThread(
        count, threads, [&work] { return work; }, stopped);
}

} // namespace framemeld::cli
