#include "cli/plugin/ModuleDefaultsProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "cli/plugin/ModuleFaultGuard.h"
#include "cli/plugin/PluginSession.h"

namespace framemeld::cli {
namespace {

constexpr std::size_t kReplyBytes = 2 * sizeof(double);

[[noreturn]] void answerFromChild(const std::string &modulePath, int replyFd) noexcept
{
    // A module that prints must not write into the help.
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere >= 0) {
        dup2(nowhere, STDOUT_FILENO);
    }
    unsigned char reply[kReplyBytes];
    try {
        PluginSession session(modulePath, 1, nullptr, "the help shows no defaults of the module");
        const SliderRanges ranges = session.sliderRanges();
        std::memcpy(reply, &ranges.divergence.defaultValue, sizeof(double));
        std::memcpy(reply + sizeof(double), &ranges.ratingRange.defaultValue, sizeof(double));
    } catch (const std::exception &) {
        _exit(1); // the help says "the plug-in's default", as without a module
    }
    const bool sent = write(replyFd, reply, sizeof reply) == static_cast<ssize_t>(sizeof reply);
    // _exit: the parent's buffers and exit handlers are the parent's business. The module stays
    // loaded; unloading it would only give it one more chance to fail.
    _exit(sent ? 0 : 1);
}

// Reads the whole reply unless the child closes the pipe first or the time runs out.
bool readReply(int fd, unsigned char *reply, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t got = 0;
    while (got < kReplyBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t n = read(fd, reply + got, kReplyBytes - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<ModuleDefaults> probeModuleDefaults(const std::string &modulePath,
                                                  std::chrono::milliseconds timeout)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        answerFromChild(modulePath, ends[1]);
    }
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return std::nullopt;
    }
    unsigned char reply[kReplyBytes];
    const bool complete = readReply(ends[0], reply, timeout);
    close(ends[0]);
    if (!complete) {
        kill(child, SIGKILL); // a hung module; the child is ours and still unwaited for
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    ModuleDefaults defaults;
    std::memcpy(&defaults.divergence, reply, sizeof(double));
    std::memcpy(&defaults.ratingRange, reply + sizeof(double), sizeof(double));
    return defaults;
}

} // namespace framemeld::cli
