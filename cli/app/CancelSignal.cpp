#include "cli/app/CancelSignal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "cli/plate/TemporaryPlateFile.h"

namespace framemeld::cli {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<std::atomic<bool> *> g_flag{nullptr};
std::atomic<int> g_received{0};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]]{};

extern "C" void onCancelSignal(int signalNumber)
{
    if (g_received.fetch_add(1) > 0) {
        // Asked twice: stop now, but never leave a partial plate behind.
        removeTemporaryPlateFileNow();
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    if (std::atomic<bool> *flag = g_flag.load()) {
        flag->store(true);
    }
    // Named as the user sent it: a farm's SIGTERM is no Ctrl-C. write() is async-signal-safe
    // where stdio is not.
    static const char ctrlC[] = "\nframemeld: cancelling (Ctrl-C again to stop at once)\n";
    static const char term[] =
        "\nframemeld: cancelling on SIGTERM (a second signal stops at once)\n";
    static const char hangUp[] =
        "\nframemeld: cancelling on SIGHUP (a second signal stops at once)\n";
    const char *message = signalNumber == SIGTERM ? term : signalNumber == SIGHUP ? hangUp : ctrlC;
    const std::size_t size = signalNumber == SIGTERM  ? sizeof term - 1
                             : signalNumber == SIGHUP ? sizeof hangUp - 1
                                                      : sizeof ctrlC - 1;
    const ssize_t ignored = write(STDERR_FILENO, message, size);
    (void)ignored;
}

} // namespace

CancelSignal::CancelSignal(std::atomic<bool> &flag)
{
    g_flag.store(&flag);
    g_received.store(0);
    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kSignals) {
        sigaddset(&action.sa_mask, signalNumber); // one handler at a time
    }
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
        // A run under nohup (or any parent that ignores a signal) keeps ignoring it.
        if (g_previous[i].sa_handler == SIG_IGN) {
            sigaction(kSignals[i], &g_previous[i], nullptr);
        }
    }
    // A signal sent before the handler existed, held back by a mask the caller passed down,
    // arrives now and cancels as any later one does.
    sigset_t cancelSignals;
    sigemptyset(&cancelSignals);
    for (const int signalNumber : kSignals) {
        sigaddset(&cancelSignals, signalNumber);
    }
    pthread_sigmask(SIG_UNBLOCK, &cancelSignals, nullptr);
}

CancelSignal::~CancelSignal()
{
    for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_flag.store(nullptr);
}

} // namespace framemeld::cli
