#pragma once
// Ctrl-C (SIGINT), SIGTERM and SIGHUP ask for cancellation instead of killing the process: the
// handler only sets an atomic flag, which the decoders check between frames and the host runner
// turns into the plug-in's abort answer, so the run can stop at a safe point and remove its
// temporary output. A second signal removes the temporary plate file, if one is being written,
// and ends the process at once by the signal's default action.

#include <atomic>

namespace framemeld::cli {

class CancelSignal {
public:
    // Routes the signals to `flag` until destroyed, and takes them even where the caller's
    // signal mask held them back; `flag` must outlive this object and be lock-free. Made first
    // thing in main(), so that a signal at start-up cancels as a later one does.
    explicit CancelSignal(std::atomic<bool> &flag);
    ~CancelSignal();

    CancelSignal(const CancelSignal &) = delete;
    CancelSignal &operator=(const CancelSignal &) = delete;
};

} // namespace framemeld::cli
