#include "cli/CancelSignal.h"

#include <signal.h>
#include <unistd.h>

namespace framemeld::cli {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<std::atomic<bool> *> g_flag{nullptr};
struct sigaction g_previous {};

extern "C" void onInterrupt(int)
{
    if (std::atomic<bool> *flag = g_flag.load()) {
        flag->store(true);
    }
    static const char message[] = "\nframemeld: cancelling (Ctrl-C again to stop at once)\n";
    // write() is async-signal-safe where stdio is not.
    const ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
}

} // namespace

CancelSignal::CancelSignal(std::atomic<bool> &flag)
{
    g_flag.store(&flag);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND); // the next Ctrl-C gets the default action
    sigaction(SIGINT, &action, &g_previous);
}

CancelSignal::~CancelSignal()
{
    sigaction(SIGINT, &g_previous, nullptr);
    g_flag.store(nullptr);
}

} // namespace framemeld::cli
