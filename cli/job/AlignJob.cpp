#include "cli/job/AlignJob.h"

#include <chrono>
#include <set>
#include <utility>

#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/job/JobProgress.h"
#include "cli/job/JobThreads.h"
#include "cli/job/MotionFile.h"
#include "cli/job/PlateAlignment.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plugin/PluginLocation.h"
#include "cli/plugin/PluginSession.h"

namespace framemeld::cli {

AlignJob::AlignJob(AlignJobSpec spec) : spec_(std::move(spec)) {}

RunReport AlignJob::run(const JobControl &control) const
{
    RunReport report;
    try {
        registerFrames(control, report);
    } catch (...) {
        recordFailure(std::current_exception(), report);
    }
    return report;
}

void AlignJob::registerFrames(const JobControl &control, RunReport &report) const
{
    std::atomic<bool> ownCancel{false};
    std::atomic<bool> &cancel = control.cancel != nullptr ? *control.cancel : ownCancel;
    report.input = spec_.input;
    report.output = spec_.output;
    if (spec_.model == align::MotionModel::None) {
        throw UsageError("align registers the frames: --align must be translation, similarity "
                         "or perspective, not none");
    }
    checkWritableOutput(spec_.output);
    // The module's slider ranges shape the sampling, so the frames are the ones a render with
    // the same options samples.
    PluginSession session(locatePlugin(spec_.plugin), spec_.threads, &cancel);
    report.plugin = session.modulePath();
    if (cancel.load()) {
        throw CancelledError();
    }
    const SliderRanges ranges = session.sliderRanges();
    checkSliderRanges(spec_.sliders, ranges);

    const Clip clip = discoverClip(spec_.input, &cancel);
    report.numbering = numberingOf(clip);
    checkOutputIsNoInput(spec_.output, clip);
    const FootageFormat format = probeFootage(clip);
    report.rotation = format.rotation;
    const SamplingPlan plan = planSampling(spec_.sliders, ranges, *report.numbering);
    report.plan = plan;
    requireSampledFrames(clip, plan.frames, spec_.input);
    const long long firstNumber = report.numbering->first;
    const Depth depth =
        spec_.depthBits ? *runner::depthFromBits(*spec_.depthBits) : format.naturalDepth;
    report.renderBits = runner::bitsPerChannel(depth);

    const auto alignStart = std::chrono::steady_clock::now();
    PlateAlignmentRequest request;
    request.clip = &clip;
    request.format = format;
    request.depth = depth;
    request.frames = plan.frames;
    request.reference = referenceFrame(spec_.reference, plan, firstNumber);
    request.firstNumber = firstNumber;
    request.model = spec_.model;
    request.threads = jobThreads(spec_.threads);
    request.cancel = &cancel;
    // Reading the frames, then registering them: the registration itself reports no steps, so
    // its phase goes from nothing to done.
    NoProgress none;
    JobProgress &progress = control.progress != nullptr ? *control.progress : none;
    progress.framesRead(
        0, static_cast<long long>(std::set<int>(plan.frames.begin(), plan.frames.end()).size()));
    progress.startPhase("Reading frames");
    request.decoded = [&progress](long long done, long long total) {
        progress.framesRead(done, total);
        progress.advance(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
    };
    request.registering = [&progress] { progress.startPhase("Registering"); };
    report.alignment = registerPlate(request);
    progress.finish();
    report.phaseSeconds.emplace_back(
        "align",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - alignStart).count());
    if (cancel.load()) {
        throw CancelledError();
    }

    const auto writeStart = std::chrono::steady_clock::now();
    writeMotionFile(spec_.output, motionFileText(*report.alignment, format.width, format.height));
    report.phaseSeconds.emplace_back(
        "write",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count());
}

} // namespace framemeld::cli
