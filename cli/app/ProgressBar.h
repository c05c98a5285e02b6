#pragma once
// A one-line progress bar on stderr for a job's phases (reading frames, rendering). Decoding
// threads and the plug-in's progress reports feed it from several threads at once; it redraws
// only when the shown figure changes, so feeding it per row costs next to nothing.

#include <cstdio>
#include <mutex>
#include <string>

#include "cli/job/JobProgress.h"

namespace framemeld::cli {

class ProgressBar final : public JobProgress {
public:
    // A disabled bar ignores everything: used when stderr is no terminal or with --quiet.
    ProgressBar(std::FILE *stream, bool enabled);
    ~ProgressBar() override;

    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // The bar restarts at zero under the phase's label.
    void startPhase(const std::string &label) override;
    // Values past 1 show as full.
    void advance(double done) override;
    // Ends the bar's line so that later messages start on a fresh one.
    void finish() override;

    bool enabled() const { return enabled_; }

private:
    void drawLocked(bool force);

    std::FILE *stream_;
    bool enabled_;
    std::mutex mutex_;
    std::string label_;
    int permille_ = 0;
    int shownPermille_ = -1;
    bool lineOpen_ = false;
};

// True when the stream is a terminal, where a bar that redraws itself makes sense.
bool isTerminal(std::FILE *stream);

} // namespace framemeld::cli
