// A thread that overflows its stack can only run a signal handler on a stack of its own; every
// thread that runs module code gets one, so a module's stack overflow is reported like any other
// crash instead of killing the process silently.
#pragma once

namespace framemeld::runner {

// Gives the calling thread an alternate signal stack for the object's lifetime. Does nothing when
// the thread has one already, when memory is short, or on Windows.
class SignalStack {
public:
    SignalStack() noexcept;
    ~SignalStack();
    SignalStack(const SignalStack &) = delete;
    SignalStack &operator=(const SignalStack &) = delete;

private:
    void *memory_ = nullptr;
};

} // namespace framemeld::runner
