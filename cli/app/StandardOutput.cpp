#include "cli/app/StandardOutput.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

bool g_closedAtStart = false;

// The reason `text` could not be written, empty when it was.
std::string written(const std::string &text)
{
    if (g_closedAtStart) {
        return std::strerror(EBADF);
    }
    errno = 0;
    const bool ok = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!ok || std::ferror(stdout)) {
        const int error = errno;
        return error != 0 ? std::strerror(error) : "write error";
    }
    return {};
}

} // namespace

void holdStandardOutput()
{
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF) {
        g_closedAtStart = true;
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0 && devNull != STDOUT_FILENO) {
            dup2(devNull, STDOUT_FILENO);
            close(devNull);
        }
    }
}

void writeToStdout(const std::string &text)
{
    const std::string failure = written(text);
    if (!failure.empty()) {
        throw RunError("cannot write to standard output: " + failure);
    }
}

std::string writeReportToStdout(const std::string &text)
{
    // The run is over; only the report's own write is at stake.
    signal(SIGPIPE, SIG_IGN);
    return written(text);
}

} // namespace framemeld::cli
