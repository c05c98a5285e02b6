#pragma once
// The Framemeld module loaded into the host runner: set up once, its sliders read back, then one
// frame rendered from the footage. The module runs inside this process, so loading it through a
// session is the only way the tool loads it: the session puts the fault guard in place first
// (see ModuleFaultGuard.h), and no caller can forget it.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "cli/plan/Sliders.h"
#include "runner/FrameSource.h"
#include "runner/Host.h"
#include "runner/PluginModule.h"
#include "runner/World.h"

namespace framemeld::cli {

class PluginSession {
public:
    // Guards this process against the module's faults, loads the module and runs its setup
    // commands. Throws RunError naming the module when it cannot be loaded or refuses setup.
    // `threads` 0 means one per core. `cancel`, when given, is the flag the plug-in's abort polls
    // answer to (it must outlive the session; a signal handler may already set it), else the
    // session's own. `faultConsequence` ends the message of a module fault (a string literal).
    PluginSession(const std::string &modulePath, int threads, std::atomic<bool> *cancel = nullptr,
                  const char *faultConsequence = "no output written");

    // The registered "Start Frame" ... "Rating Range" sliders. Throws RunError when the module
    // lacks one of them.
    SliderRanges sliderRanges() const;

    // Sets the five sliders.
    void apply(const SliderValues &values);

    // Renders the plate from `source`. `progress` gets the plug-in's reports (from any thread).
    // Throws CancelledError when the cancel flag stopped it, RunError for any other failure.
    runner::World render(runner::FrameSource &source,
                         const std::function<void(long done, long total)> &progress);

    // Renders rows [top, bottom) of the plate in one request for that area, as a host renders a
    // region, so each sampled frame is checked out over those rows only. Returns a world of the
    // plate's width and bottom - top rows. Throws as render() does.
    runner::World renderRows(runner::FrameSource &source, int top, int bottom,
                             const std::function<void(long done, long total)> &progress);

    // Renders the plate band by band, `bandRows` rows at a time (see runner/StripRender.h),
    // so that `source` is asked only for each band's rows of its frames. `progress` gets the
    // share of the plate done, 0 to 1 (from any thread). Throws as render() does, naming the
    // band that failed.
    runner::World renderInBands(runner::FrameSource &source, int bandRows,
                                const std::function<void(double done)> &progress);

    // Set it (from anywhere, a signal handler included) to make the plug-in's next abort poll
    // answer "cancel".
    std::atomic<bool> &cancelFlag() { return host_->cancelFlag(); }

    const std::string &modulePath() const { return module_.path(); }

    // The version the module reported at setup, packed as PF_VERSION packs it.
    A_u_long moduleVersion() const { return moduleVersion_; }

private:
    runner::World renderRequest(runner::FrameSource &source, const runner::RenderRequest &request,
                                const std::function<void(long done, long total)> &progress);

    runner::PluginModule module_;
    std::unique_ptr<runner::Host> host_;
    A_u_long moduleVersion_ = 0;
};

} // namespace framemeld::cli
