#include "runner/detail/WorkerPool.h"

#include "runner/SignalStack.h"

#include <chrono>

#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64) || defined(__i386__)
#include <immintrin.h>
#define FRAMEMELD_SPIN_PAUSE() _mm_pause()
#else
#define FRAMEMELD_SPIN_PAUSE() std::this_thread::yield()
#endif

namespace framemeld::runner {

namespace {

// A float render dispatches tens of thousands of short tasks (one pass per band and frame). Going
// to sleep and being woken between them cost about 70 us a dispatch on a 2-core machine, as much
// as the work itself; so a worker done with its task watches for the next dispatch this long
// before it sleeps (22 us a dispatch). The dispatching thread still sleeps while the workers
// run: watching, it would take a core from them.
constexpr auto kSpinBeforeSleeping = std::chrono::microseconds(50);

// Watches `ready` until it holds or the spin time is over; true when it holds.
template <class Ready> bool spinUntil(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleeping;
    for (unsigned round = 0;; ++round) {
        if (ready()) {
            return true;
        }
        FRAMEMELD_SPIN_PAUSE();
        if ((round & 63) == 63 && std::chrono::steady_clock::now() >= until) {
            return ready();
        }
    }
}

// Which pool, and which worker of it, the current thread is.
thread_local const WorkerPool *t_pool = nullptr;
thread_local unsigned t_index = 0;
} // namespace

WorkerPool::WorkerPool(unsigned threads)
{
    if (threads == 0) {
        threads = std::thread::hardware_concurrency();
    }
    if (threads == 0) {
        threads = 1;
    }
    threads_.reserve(threads);
    try {
        for (unsigned i = 0; i < threads; ++i) {
            threads_.emplace_back([this, i] { workerLoop(i); });
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto &thread : threads_) {
            thread.join();
        }
        throw;
    }
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto &thread : threads_) {
        thread.join();
    }
}

std::optional<unsigned> WorkerPool::currentWorkerIndex() const noexcept
{
    if (t_pool == this) {
        return t_index;
    }
    return std::nullopt;
}

void WorkerPool::runOnEveryWorker(const std::function<void(unsigned)> &task)
{
    if (auto self = currentWorkerIndex()) {
        task(*self);
        return;
    }

    std::lock_guard<std::mutex> dispatch(dispatchMutex_);
    std::unique_lock<std::mutex> lock(mutex_);
    task_ = &task;
    running_ = size();
    firstError_ = nullptr;
    ++generation_;
    wake_.notify_all();
    done_.wait(lock, [this] { return running_ == 0; });
    task_ = nullptr;
    if (firstError_) {
        std::exception_ptr error = firstError_;
        firstError_ = nullptr;
        std::rethrow_exception(error);
    }
}

void WorkerPool::workerLoop(unsigned index)
{
    // Workers run the module's iterate callbacks, whose crashes must reach the process's handlers
    // even when they overflowed this thread's stack.
    const SignalStack signalStack;
    t_pool = this;
    t_index = index;
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!stopping_ && generation_ == seen) {
            lock.unlock();
            spinUntil([&] { return generation_.load() != seen; });
            lock.lock();
        }
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) {
            return;
        }
        seen = generation_;
        const std::function<void(unsigned)> *task = task_;
        lock.unlock();
        std::exception_ptr error;
        try {
            (*task)(index);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !firstError_) {
            firstError_ = error;
        }
        if (--running_ == 0) {
            done_.notify_all();
        }
    }
}

} // namespace framemeld::runner
