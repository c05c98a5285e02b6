#pragma once
// What the caller of a job keeps in hand while it runs: where progress goes, and the flag that
// stops it.

#include <atomic>

#include "cli/job/JobProgress.h"

namespace framemeld::cli {

struct JobControl {
    // Progress reports; none when null.
    JobProgress *progress = nullptr;
    // Set it from anywhere, a signal handler included (it must be lock-free), and the job stops
    // at its next safe point with CancelledError, leaving no output. Must outlive the job's run;
    // null: the job cannot be cancelled from outside.
    std::atomic<bool> *cancel = nullptr;
};

} // namespace framemeld::cli
