#pragma once
// The framemeld program running while a test watches its stderr line by line, to act at a known
// point of the run (send a signal once a progress line says the run is reading frames) with no
// clock. The pipe holds one page, so the program is at most a few dozen lines ahead of what the
// test has read: a line read tells where the run is to within those lines.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace framemeld::cli::test {

struct LaunchOptions {
    // Where stdout goes.
    enum class Stdout { DevNull, File, Closed, Full, BrokenPipe } stdoutTo = Stdout::DevNull;
    std::string stdoutFile;                                       // Stdout::File
    std::vector<std::pair<std::string, std::string>> environment; // set in the child
    // A signal sent to the program before its first instruction: blocked and raised in the
    // child, so it is pending when the program starts.
    int pendingSignal = 0;
};

class RunningFramemeld {
public:
    RunningFramemeld(const std::vector<std::string> &args, const LaunchOptions &options = {});
    // Kills and reaps a program still running.
    ~RunningFramemeld();
    RunningFramemeld(const RunningFramemeld &) = delete;
    RunningFramemeld &operator=(const RunningFramemeld &) = delete;

    pid_t pid() const { return pid_; }
    // The next whole line of stderr, without its newline; false once stderr has closed.
    bool nextLine(std::string &line);
    // Reads stderr to its end, then reaps the program: its exit status, 128 + n when killed by
    // signal n. The lines read here are kept in rest().
    int finish();
    const std::vector<std::string> &rest() const { return rest_; }

private:
    pid_t pid_ = -1;
    int stderr_ = -1;
    std::string pending_;
    std::vector<std::string> rest_;
    int status_ = -1;
};

// The value of `key=` in a progress line, or -1 when the line has none.
long long progressValue(const std::string &line, const std::string &key);
bool isProgressLine(const std::string &line);

} // namespace framemeld::cli::test
