// The host's render threads: a fixed set of workers that each run one task per dispatch, so a
// worker index (0 .. size - 1) always belongs to exactly one thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace framemeld::runner {

class WorkerPool {
public:
    // 0 threads: one per hardware thread.
    explicit WorkerPool(unsigned threads = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    unsigned size() const noexcept { return static_cast<unsigned>(threads_.size()); }

    // Runs task(workerIndex) once on every worker and returns when all have finished; the first
    // exception a task threw is rethrown here. Dispatches from different threads take turns. A
    // dispatch from inside a task cannot wait for the other workers (they may be waiting on it),
    // so it runs task(its own index) once, inline.
    void runOnEveryWorker(const std::function<void(unsigned)> &task);

    // The worker index of the calling thread when it is one of this pool's workers.
    std::optional<unsigned> currentWorkerIndex() const noexcept;

private:
    void workerLoop(unsigned index);

    std::vector<std::thread> threads_;
    std::mutex dispatchMutex_; // one dispatch at a time
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(unsigned)> *task_ = nullptr;
    // Written under mutex_; also read without it by workers and dispatchers spinning briefly
    // before they sleep.
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<unsigned> running_{0};
    bool stopping_ = false;
    std::exception_ptr firstError_;
};

} // namespace framemeld::runner
