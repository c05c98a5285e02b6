#include "cli/app/Commands.h"

#include <memory>

#include "cli/app/ProgressBar.h"
#include "cli/app/ProgressLines.h"
#include "cli/app/RunSummary.h"
#include "cli/core/CliError.h"
#include "cli/job/AlignJob.h"
#include "cli/job/MergeJob.h"
#include "cli/job/RenderJob.h"

namespace framemeld::cli {
namespace {

// Lines when asked for, whatever stderr is; else the bar, on a terminal only.
std::unique_ptr<JobProgress> progressFor(const Options &options)
{
    if (options.progressLines) {
        return std::make_unique<ProgressLines>(stderr);
    }
    return std::make_unique<ProgressBar>(stderr, !options.quiet && isTerminal(stderr));
}

} // namespace

RunReport runRenderCommand(const Options &options, std::atomic<bool> &cancel)
{
    RenderJobSpec spec;
    spec.input = options.input;
    spec.output = options.output;
    spec.sliders.start = options.start;
    spec.sliders.end = options.end;
    spec.sliders.every = options.every;
    spec.sliders.frames = options.frames;
    spec.sliders.divergence = options.divergence;
    spec.sliders.ratingRange = options.ratingRange;
    spec.depthBits = options.depth;
    spec.threads = options.threads;
    spec.memory = options.memory;
    spec.plugin = options.plugin;
    spec.rows = options.rows;
    spec.dataType = options.dataType;
    spec.compression = options.compression;
    spec.workingSpace = options.workingSpace;
    spec.ocioConfig = options.ocioConfig;
    spec.holdout = options.holdout;
    spec.holdoutInvert = options.holdoutInvert;
    spec.confidence = options.confidence;
    spec.mattes = options.mattes;
    spec.align = options.align;
    spec.reference = options.reference;
    spec.motion = options.motion;

    std::unique_ptr<JobProgress> progress = progressFor(options);
    const RunReport report = RenderJob(spec).run(JobControl{progress.get(), &cancel});
    progress.reset(); // the bar's line ends before the summary
    if (report.exitStatus == kExitOk && !options.quiet) {
        printRenderSummary(report, stderr);
    }
    return report;
}

RunReport runAlignCommand(const Options &options, std::atomic<bool> &cancel)
{
    AlignJobSpec spec;
    spec.input = options.input;
    spec.output = options.output;
    spec.sliders.start = options.start;
    spec.sliders.end = options.end;
    spec.sliders.every = options.every;
    spec.sliders.frames = options.frames;
    spec.depthBits = options.depth;
    spec.threads = options.threads;
    spec.plugin = options.plugin;
    spec.model = options.align.value_or(align::MotionModel::Similarity);
    spec.reference = options.reference;
    std::unique_ptr<JobProgress> progress = progressFor(options);
    const RunReport report = AlignJob(spec).run(JobControl{progress.get(), &cancel});
    progress.reset(); // the bar's line ends before the summary
    if (report.exitStatus == kExitOk && !options.quiet) {
        printAlignSummary(report, stderr);
    }
    return report;
}

RunReport runMergeCommand(const Options &options, std::atomic<bool> &cancel)
{
    MergeJobSpec spec;
    spec.output = options.output;
    spec.strips = options.strips;
    spec.memory = options.memory;
    const RunReport report = MergeJob(spec).run(JobControl{nullptr, &cancel});
    if (report.exitStatus == kExitOk && !options.quiet) {
        printMergeSummary(report, stderr);
    }
    return report;
}

} // namespace framemeld::cli
