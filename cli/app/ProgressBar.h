#pragma once
// A one-line progress bar on stderr for a run of several phases (reading frames, rendering).
// Decoding threads and the plug-in's progress reports feed it from several threads at once; it
// redraws only when the shown figure changes, so feeding it per row costs next to nothing.

#include <cstdio>
#include <mutex>
#include <string>

namespace framemeld::cli {

class ProgressBar {
public:
    // A disabled bar ignores everything: used when stderr is no terminal or with --quiet.
    ProgressBar(std::FILE *stream, bool enabled);
    ~ProgressBar();

    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // Starts a phase with its own label and amount of work; the bar restarts at zero.
    void startPhase(const std::string &label, long long total);
    // Sets how much of the phase's work is done (values past the total show as full).
    void update(long long done);
    void update(long long done, long long total);
    // Ends the bar's line so that later messages start on a fresh one.
    void finish();

    bool enabled() const { return enabled_; }

private:
    void drawLocked(bool force);

    std::FILE *stream_;
    bool enabled_;
    std::mutex mutex_;
    std::string label_;
    long long total_ = 0;
    long long done_ = 0;
    int shownPermille_ = -1;
    bool lineOpen_ = false;
};

// True when the stream is a terminal, where a bar that redraws itself makes sense.
bool isTerminal(std::FILE *stream);

} // namespace framemeld::cli
