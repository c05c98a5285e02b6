#pragma once
// How a job tells its caller how far it is: a phase by name ("Reading frames", "Rendering"),
// then the share of that phase done. Reports come from decoding threads and the plug-in's
// workers as well as the job's own thread, so an implementation must take them from any thread
// at once. The command line draws a bar from them, or prints lines a render manager parses;
// another caller may log them or show them in its own window. Every report is plain numbers and
// text, so a binding to another language can forward them as they come.

#include <string>

namespace framemeld::cli {

class JobProgress {
public:
    virtual ~JobProgress() = default;

    // A phase begins, at nothing done.
    virtual void startPhase(const std::string &label) = 0;
    // `done` of the current phase, 0 to 1.
    virtual void advance(double done) = 0;
    // Of the `sampled` frames the render reads, `read` are read so far. Frames read a band of
    // rows at a time, as the bands render, count by the share of the plate done: half of every
    // frame's rows is half the frames. Comes before the advance() it goes with; decoding
    // threads report at once, so a smaller count may come after a larger one (the larger
    // holds). Only a caller that shows frames need take it.
    virtual void framesRead(long long read, long long sampled)
    {
        (void)read;
        (void)sampled;
    }
    // The job's last phase is over.
    virtual void finish() = 0;
};

// Reports to nobody.
class NoProgress final : public JobProgress {
public:
    void startPhase(const std::string &) override {}
    void advance(double) override {}
    void finish() override {}
};

} // namespace framemeld::cli
