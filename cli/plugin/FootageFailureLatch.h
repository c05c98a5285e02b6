#pragma once
// The footage's own failure, kept while the plug-in renders. The host runner answers a frame that
// cannot be produced with a failed checkout, and the plug-in then fails its render with an SDK
// error; that error says nothing of the file. This source stands between the runner and the real
// one and keeps the first failure the real one threw, so the session can report the footage's
// message (the file and its frame, as when frames are read before the render) instead of the
// plug-in's answer to it.

#include <exception>

#include "runner/FrameSource.h"

namespace framemeld::cli {

class FootageFailureLatch final : public runner::FrameSource {
public:
    // `source` must outlive the latch.
    explicit FootageFailureLatch(runner::FrameSource &source) : source_(source) {}

    int frameCount() const override { return source_.frameCount(); }
    int width() const override { return source_.width(); }
    int height() const override { return source_.height(); }
    runner::PixelDepth depth() const override { return source_.depth(); }

    const runner::World &frame(int index) override;
    void fillArea(int index, const PF_LRect &area, runner::World &into) override;
    runner::World takeArea(int index, const PF_LRect &area) override;

    // Rethrows the first failure the source threw when it is the footage's own (a CliError, which
    // names the file, or running out of memory); any other is a fault the plug-in's failure
    // already carries, with its text.
    void rethrowFailure() const;

private:
    runner::FrameSource &source_;
    std::exception_ptr failure_;
};

} // namespace framemeld::cli
