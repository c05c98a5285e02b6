#include "RunningFramemeld.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "CliTestSupport.h"

namespace framemeld::cli::test {

RunningFramemeld::RunningFramemeld(const std::vector<std::string> &args,
                                   const LaunchOptions &options)
{
    int errEnds[2];
    int outEnds[2] = {-1, -1};
    if (pipe2(errEnds, O_CLOEXEC) != 0 ||
        (options.stdoutTo == LaunchOptions::Stdout::BrokenPipe && pipe2(outEnds, O_CLOEXEC) != 0)) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    fcntl(errEnds[1], F_SETPIPE_SZ, 4096);
    if (outEnds[0] >= 0) {
        close(outEnds[0]); // nobody reads: every write gets EPIPE
    }
    const std::string program = framemeldPath();
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(errEnds[1], STDERR_FILENO);
        using Stdout = LaunchOptions::Stdout;
        int out = -1;
        switch (options.stdoutTo) {
        case Stdout::DevNull: out = open("/dev/null", O_WRONLY); break;
        case Stdout::File:
            out = open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            break;
        case Stdout::Full: out = open("/dev/full", O_WRONLY); break;
        case Stdout::BrokenPipe: out = outEnds[1]; break;
        case Stdout::Closed: break;
        }
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
        } else {
            close(STDOUT_FILENO);
        }
        for (const auto &[name, value] : options.environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.pendingSignal != 0) {
            sigset_t only;
            sigemptyset(&only);
            sigaddset(&only, options.pendingSignal);
            sigprocmask(SIG_BLOCK, &only, nullptr);
            raise(options.pendingSignal);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errEnds[1]);
    if (outEnds[1] >= 0) {
        close(outEnds[1]);
    }
    stderr_ = errEnds[0];
}

RunningFramemeld::~RunningFramemeld()
{
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        finish();
    }
    if (stderr_ >= 0) {
        close(stderr_);
    }
}

bool RunningFramemeld::nextLine(std::string &line)
{
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return true;
        }
        char buffer[512];
        const ssize_t got = stderr_ >= 0 ? read(stderr_, buffer, sizeof buffer) : 0;
        if (got <= 0) {
            if (!pending_.empty()) {
                line = pending_;
                pending_.clear();
                return true;
            }
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

int RunningFramemeld::finish()
{
    if (status_ >= 0) {
        return status_;
    }
    for (std::string line; nextLine(line);) {
        rest_.push_back(line);
    }
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) {
        return status_ = 255;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

bool isProgressLine(const std::string &line)
{
    return line.rfind("framemeld: progress ", 0) == 0;
}

long long progressValue(const std::string &line, const std::string &key)
{
    const auto at = line.find(" " + key + "=");
    if (!isProgressLine(line) || at == std::string::npos) {
        return -1;
    }
    return std::atoll(line.c_str() + at + key.size() + 2);
}

} // namespace framemeld::cli::test
