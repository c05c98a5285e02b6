#pragma once
// Progress for logs and render managers (--progress): one line per step on stderr, whether or not
// it is a terminal, each a fixed set of key=value words a farm's log parser can match:
//
//   framemeld: progress percent=42 phase=reading-frames frames_read=334 frames=795 elapsed=3.27
//
// A step is the start of a phase and each report that reaches a further whole percent of it, so a
// run prints at most about a hundred lines a phase however many frames or rows it has, and the
// count of lines is a measure of work done that does not depend on how fast the machine is.

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "cli/job/JobProgress.h"

namespace framemeld::cli {

class ProgressLines final : public JobProgress {
public:
    // Seconds since some fixed moment; the steady clock when empty.
    using Clock = std::function<double()>;

    explicit ProgressLines(std::FILE *stream, Clock clock = {});

    ProgressLines(const ProgressLines &) = delete;
    ProgressLines &operator=(const ProgressLines &) = delete;

    void startPhase(const std::string &label) override;
    void advance(double done) override;
    void framesRead(long long read, long long sampled) override;
    // The last phase's line at 100 percent, when its last step was not one.
    void finish() override;

private:
    void printLocked();

    std::FILE *stream_;
    Clock clock_;
    double start_;
    std::mutex mutex_;
    std::string phase_;
    int percent_ = -1; // the last one printed; -1 before the phase's first line
    long long framesRead_ = 0;
    long long framesSampled_ = 0;
};

// "Reading and rendering" -> "reading-and-rendering": a phase label as one word of a line.
std::string phaseWord(const std::string &label);

} // namespace framemeld::cli
