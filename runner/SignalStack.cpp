#include "runner/SignalStack.h"

#if !defined(_WIN32)
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#endif

namespace framemeld::runner {

#if defined(_WIN32)

SignalStack::SignalStack() noexcept = default;
SignalStack::~SignalStack() = default;

#else

namespace {

// Room for a handler that formats nothing and only writes and exits, with a wide margin for
// sanitizer runtimes that run their own handlers on the same stack.
constexpr std::size_t kStackBytes = 64 * 1024;

} // namespace

SignalStack::SignalStack() noexcept
{
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
        return;
    }
    // SIGSTKSZ is not a constant on every C library.
    const std::size_t size = std::max<std::size_t>(kStackBytes, static_cast<std::size_t>(SIGSTKSZ));
    memory_ = std::malloc(size);
    if (!memory_) {
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory_;
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) != 0) {
        std::free(memory_);
        memory_ = nullptr;
    }
}

SignalStack::~SignalStack()
{
    if (!memory_) {
        return;
    }
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    std::free(memory_);
}

#endif

} // namespace framemeld::runner
