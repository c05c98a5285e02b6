#pragma once
// A one-line progress bar on stderr for a job's phases (reading frames, rendering). Decoding
// threads and the plug-in's progress reports feed it from several threads at once; it redraws
// only when the shown figure changes, and then at most a few times a second (a terminal logged
// by `script` or a CI runner keeps every redraw), so feeding it per row costs next to nothing.

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "cli/job/JobProgress.h"

namespace framemeld::cli {

class ProgressBar final : public JobProgress {
public:
    // Seconds since some fixed moment; the steady clock when empty.
    using Clock = std::function<double()>;
    // Redraws at most this often while a phase goes on; its start and its end always show.
    static constexpr double kRedrawSeconds = 0.25;

    // A disabled bar ignores everything: used when stderr is no terminal or with --quiet.
    ProgressBar(std::FILE *stream, bool enabled, Clock clock = {});
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
    Clock clock_;
    double drawnAt_ = 0;
};

// True when the stream is a terminal, where a bar that redraws itself makes sense.
bool isTerminal(std::FILE *stream);

} // namespace framemeld::cli
