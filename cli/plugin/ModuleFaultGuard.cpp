#include "cli/plugin/ModuleFaultGuard.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "cli/core/CliError.h"
#include "runner/ModuleCalls.h"
#include "runner/SignalStack.h"

namespace framemeld::cli {
namespace {

struct GuardedSignal {
    int number;
    const char *name; // how the message shows it
    struct sigaction previous;
};

GuardedSignal g_signals[] = {
    {SIGSEGV, "(SIGSEGV, invalid memory access)", {}},
    {SIGBUS, "(SIGBUS, bus error)", {}},
    {SIGILL, "(SIGILL, illegal instruction)", {}},
    {SIGFPE, "(SIGFPE, arithmetic error)", {}},
    {SIGABRT, "(SIGABRT, aborted)", {}},
};

// Written before the module is loaded, read by the handlers; a copy that needs no allocation.
char g_modulePath[4096];
std::atomic<const char *> g_consequence{""};

// Only write(2) and _exit(2) below: the handlers may interrupt anything, malloc and stdio too.
void writeText(const char *text) noexcept
{
    std::size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

// "framemeld: the plug-in module PATH <event> while running <what>; <consequence>", then the exit
// status of a module fault.
[[noreturn]] void reportAndExit(const char *event, const char *detail, const char *what) noexcept
{
    // Several workers may fault at once; one report, and the others wait for its _exit.
    static std::atomic<bool> reporting{false};
    if (reporting.exchange(true)) {
        for (;;) {
            pause();
        }
    }
    writeText("framemeld: the plug-in module ");
    writeText(g_modulePath);
    writeText(" ");
    writeText(event);
    writeText(detail);
    writeText(" while running ");
    writeText(what);
    writeText("; ");
    writeText(g_consequence.load());
    writeText("\n");
    _exit(kExitModuleFault);
}

extern "C" void onFault(int number, siginfo_t *info, void *)
{
    for (GuardedSignal &guarded : g_signals) {
        if (guarded.number != number) {
            continue;
        }
        if (const char *what = runner::moduleCallInFlight()) {
            reportAndExit("crashed ", guarded.name, what);
        }
        // Not the module's: the signal gets the action it had before. A fault repeats when the
        // instruction runs again on return; a signal something sent has to be sent again.
        sigaction(number, &guarded.previous, nullptr);
        if (info == nullptr || info->si_code <= 0) {
            raise(number);
        }
        return;
    }
}

extern "C" void onExit()
{
    if (const char *what = runner::moduleCallInFlight()) {
        reportAndExit("ended the program with exit()", "", what);
    }
}

} // namespace

void guardModuleFaults(const std::string &modulePath, const char *consequence)
{
    g_consequence.store(consequence);
    const std::size_t length = std::min(modulePath.size(), sizeof g_modulePath - 1);
    modulePath.copy(g_modulePath, length);
    g_modulePath[length] = '\0';

    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    // This thread's; the runner's workers make their own.
    static const runner::SignalStack mainThreadStack;
    for (GuardedSignal &guarded : g_signals) {
        struct sigaction action {};
        action.sa_sigaction = onFault;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigaction(guarded.number, &action, &guarded.previous);
    }
    std::atexit(onExit);
    std::at_quick_exit(onExit);
}

} // namespace framemeld::cli
