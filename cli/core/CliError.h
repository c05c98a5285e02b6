#pragma once
// Failures of the command-line tool carry the process exit status with them, so every layer can
// stop with a message and main() only has to print it and exit.

#include <stdexcept>
#include <string>

namespace framemeld::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,     // footage, module, rendering or output problems
    kExitUsage = 2,       // the command line itself is wrong
    kExitModuleFault = 3, // the plug-in module crashed or exited during one of its calls
    kExitCancelled = 130  // interrupted (128 + SIGINT), as shells report it
};

class CliError : public std::runtime_error {
public:
    CliError(int exitStatus, const std::string &message)
        : std::runtime_error(message), exitStatus_(exitStatus)
    {}
    int exitStatus() const { return exitStatus_; }

private:
    int exitStatus_;
};

// A wrong command line: reported with exit status 2.
class UsageError : public CliError {
public:
    explicit UsageError(const std::string &message) : CliError(kExitUsage, message) {}
};

// Anything else that stops the run (unreadable footage, unwritable output, ...): exit status 1.
class RunError : public CliError {
public:
    explicit RunError(const std::string &message) : CliError(kExitFailure, message) {}
};

// Ctrl-C reached a point where the work stopped.
class CancelledError : public CliError {
public:
    CancelledError() : CliError(kExitCancelled, "cancelled") {}
};

} // namespace framemeld::cli
