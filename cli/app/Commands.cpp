#include "cli/app/Commands.h"

#include <atomic>

#include "cli/app/CancelSignal.h"
#include "cli/app/ProgressBar.h"
#include "cli/app/RunSummary.h"
#include "cli/core/CliError.h"
#include "cli/job/MergeJob.h"
#include "cli/job/RenderJob.h"

namespace framemeld::cli {

RunReport runRenderCommand(const Options &options)
{
    RenderJobSpec spec;
    spec.input = options.input;
    spec.output = options.output;
    spec.sliders.start = options.start;
    spec.sliders.end = options.end;
    spec.sliders.every = options.every;
    spec.sliders.divergence = options.divergence;
    spec.sliders.ratingRange = options.ratingRange;
    spec.depthBits = options.depth;
    spec.threads = options.threads;
    spec.memory = options.memory;
    spec.plugin = options.plugin;
    spec.rows = options.rows;
    spec.holdout = options.holdout;
    spec.holdoutInvert = options.holdoutInvert;
    spec.confidence = options.confidence;
    spec.mattes = options.mattes;
    spec.align = options.align;
    spec.reference = options.reference;

    std::atomic<bool> cancel{false};
    const CancelSignal onCtrlC(cancel);
    ProgressBar bar(stderr, !options.quiet && isTerminal(stderr));
    const RunReport report = RenderJob(spec).run(JobControl{&bar, &cancel});
    if (report.exitStatus == kExitOk && !options.quiet) {
        printRenderSummary(report, stderr);
    }
    return report;
}

RunReport runMergeCommand(const Options &options)
{
    MergeJobSpec spec;
    spec.output = options.output;
    spec.strips = options.strips;
    std::atomic<bool> cancel{false};
    const CancelSignal onCtrlC(cancel);
    const RunReport report = MergeJob(spec).run(JobControl{nullptr, &cancel});
    if (report.exitStatus == kExitOk && !options.quiet) {
        printMergeSummary(report, stderr);
    }
    return report;
}

} // namespace framemeld::cli
