#include "runner/ModuleCalls.h"

#include <atomic>

namespace framemeld::runner {
namespace {

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<const char *>::is_always_lock_free,
              "signal handlers may only read lock-free atomics");

std::atomic<int> g_depth{0};
std::atomic<const char *> g_what{nullptr};

} // namespace

ModuleCallScope::ModuleCallScope(const char *what) noexcept : previous_(g_what.exchange(what))
{
    g_depth.fetch_add(1);
}

ModuleCallScope::~ModuleCallScope()
{
    g_depth.fetch_sub(1);
    g_what.store(previous_);
}

const char *moduleCallInFlight() noexcept
{
    if (g_depth.load() <= 0) {
        return nullptr;
    }
    const char *what = g_what.load();
    return what ? what : "a call into the module";
}

} // namespace framemeld::runner
