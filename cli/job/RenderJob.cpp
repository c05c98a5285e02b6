#include "cli/job/RenderJob.h"

#include <chrono>
#include <set>
#include <thread>
#include <utility>

#include "cli/core/CliError.h"
#include "cli/farm/FarmStrips.h"
#include "cli/footage/ClipFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/job/MemoryBudget.h"
#include "cli/job/PlateRender.h"
#include "cli/job/WorkingSpaceSetup.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/PlateProvenance.h"
#include "cli/plate/PlateStorage.h"
#include "cli/plate/PlateWindows.h"
#include "cli/plate/PlateWriter.h"
#include "cli/plugin/PluginLocation.h"
#include "cli/plugin/PluginSession.h"

namespace framemeld::cli {
namespace {

int threadCount(int requested)
{
    if (requested > 0) {
        return requested;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

void throwIfCancelled(const std::atomic<bool> &cancel)
{
    if (cancel.load()) {
        throw CancelledError();
    }
}

MemoryPlanInput memoryPlanInput(const RenderJobSpec &spec, const Clip &clip,
                                const FootageFormat &format, Depth depth, const SamplingPlan &plan)
{
    MemoryPlanInput input;
    input.width = format.width;
    input.height = format.height;
    input.depth = depth;
    input.frames = static_cast<int>(std::set<int>(plan.frames.begin(), plan.frames.end()).size());
    input.threads = threadCount(spec.threads);
    input.fileBytesPerPixel =
        format.channels * static_cast<int>(runner::bytesPerChannel(format.naturalDepth));
    input.rowAccess = format.rowAccess && clip.kind == ClipKind::ImageSequence;
    input.rowBlock = format.rowBlock;
    input.farmRows = spec.rows.has_value();
    input.budget = memoryBudget(spec.memory);
    return input;
}

// The file of each sampled frame, for --json; none for a movie.
std::optional<std::vector<std::string>> sampledFilesOf(const Clip &clip,
                                                       const std::vector<int> &frames)
{
    if (clip.kind == ClipKind::Movie) {
        return std::nullopt;
    }
    std::vector<std::string> files;
    for (const int frame : frames) {
        files.push_back(clip.frameFiles.at(static_cast<std::size_t>(frame)));
    }
    return files;
}

PlateImage plateImageOf(const runner::World &plate)
{
    PlateImage image;
    image.width = plate.width();
    image.height = plate.height();
    image.depth = plate.depth();
    image.pixels = plate.row(0);
    image.rowBytes = plate.rowStride();
    return image;
}

} // namespace

RenderJob::RenderJob(RenderJobSpec spec) : spec_(std::move(spec)) {}

RunReport RenderJob::run(const JobControl &control) const
{
    RunReport report;
    try {
        render(control, report);
    } catch (...) {
        recordFailure(std::current_exception(), report);
    }
    return report;
}

void RenderJob::render(const JobControl &control, RunReport &report) const
{
    std::atomic<bool> ownCancel{false};
    std::atomic<bool> &cancel = control.cancel != nullptr ? *control.cancel : ownCancel;
    NoProgress noProgress;
    JobProgress &progress = control.progress != nullptr ? *control.progress : noProgress;
    report.input = spec_.input;
    report.output = spec_.output;
    report.rows = spec_.rows;

    // Cheap checks first, so that a typo does not cost a long decode.
    checkOutputPath(spec_.output);
    if (spec_.rows) {
        checkStripRecordPath(spec_.output);
    }
    PluginSession session(locatePlugin(spec_.plugin), spec_.threads, &cancel);
    report.plugin = session.modulePath();
    throwIfCancelled(cancel);
    const SliderRanges ranges = session.sliderRanges();
    checkSliderRanges(spec_.sliders, ranges);

    const Clip clip = discoverClip(spec_.input, &cancel);
    report.numbering = numberingOf(clip);
    checkOutputIsNoInput(spec_.output, clip);
    checkOutputStaysOutOfTheClip(spec_.output, spec_.input);
    const FootageFormat format = probeFootage(clip);
    report.rotation = format.rotation;
    throwIfCancelled(cancel);
    PlateRenderInput input;
    input.plan = planSampling(spec_.sliders, ranges, *report.numbering);
    report.plan = input.plan;
    requireSampledFrames(clip, input.plan.frames, spec_.input);
    report.sampledFiles = sampledFilesOf(clip, input.plan.frames);
    input.automatic = automaticSliders(spec_.sliders.divergence, spec_.sliders.ratingRange);
    report.divergenceAuto = input.automatic.divergence;
    report.ratingRangeAuto = input.automatic.ratingRange;
    input.ranges = ranges;
    const Depth depth =
        spec_.depthBits ? *runner::depthFromBits(*spec_.depthBits) : format.naturalDepth;
    report.renderBits = runner::bitsPerChannel(depth);
    // The reference frame, whose attributes the plate carries: the first one sampled.
    PlateMetadata metadata =
        frameMetadata(clip, input.plan.frames.empty() ? 0 : input.plan.frames.front());
    PlateStorageRequest storageRequest;
    storageRequest.depth = depth;
    storageRequest.footageDepth = format.naturalDepth;
    storageRequest.footageType = format.sampleType;
    if (format.sampleType == "uint16" &&
        (metadata.bitsPerSample == 10 || metadata.bitsPerSample == 12)) {
        storageRequest.footageType = "uint" + std::to_string(metadata.bitsPerSample);
    }
    storageRequest.dataType = spec_.dataType;
    storageRequest.compression = spec_.compression;
    const PlateStorage storage = choosePlateStorage(spec_.output, storageRequest);
    const WorkingSpaceChoice spaceChoice = chooseWorkingSpace(spec_.workingSpace, format, depth);
    const WorkingSpaceSetup working =
        setUpWorkingSpace(spaceChoice, format, depth, spec_.ocioConfig);
    report.workingSpace = working.space.name();
    report.workingSpaceAuto = spaceChoice.automatic;
    report.workingSpaceUnits = working.space.units();
    report.footageSpace = working.footageSpace;
    input.workingSpace = &working.space;
    input.threads = threadCount(spec_.threads);

    // Sized before any decoding, so a budget too small for even one row of every frame is said
    // at once.
    const MemoryPlanInput memoryInput = memoryPlanInput(spec_, clip, format, depth, input.plan);
    report.memoryBudget = memoryInput.budget;
    input.memory = planMemory(memoryInput);
    report.memory = input.memory;
    input.rows = spec_.rows;
    if (spec_.rows) {
        checkStripRows(*spec_.rows, format, input.memory);
    }

    const std::unique_ptr<ClipFrameSource> frames = makeClipFrameSource(
        input.memory.storage, clip, format, depth, input.memory.decodeThreads, &cancel);
    frames->encodeInto(&working.space);
    const RenderedPlate rendered = renderPlate(session, *frames, input, progress);
    report.plan = rendered.plan; // with the values the render used
    report.slidersSettled = true;
    if (input.automatic.divergence) {
        report.noiseSigma = rendered.noise.sigma;
    }
    report.scratchBytes = frames->scratchBytes();
    report.phaseSeconds.emplace_back("read", rendered.readSeconds);
    report.phaseSeconds.emplace_back("estimate", rendered.estimateSeconds);
    report.phaseSeconds.emplace_back("render", rendered.renderSeconds);

    const auto writeStart = std::chrono::steady_clock::now();
    PlateFileOptions fileOptions;
    fileOptions.withAlpha = format.hasAlpha;
    fileOptions.unassociatedAlpha = format.unassociatedAlpha;
    fileOptions.dataType = storage.dataType;
    fileOptions.compression = storage.compression;
    metadata.provenance = plateProvenance(spec_.input, rendered.plan, depth);
    metadata.windows = format.windows;
    if (!spec_.rows) {
        report.windows = format.windows; // a strip holds the whole frame's rows
    }
    fileOptions.metadata = std::move(metadata);
    const PlateImage image = plateImageOf(rendered.plate);
    // What the file holds: a strip, the frame, or its display window alone.
    const PlateImage stored =
        spec_.rows ? image : plateImageFor(spec_.output, image, format.windows);
    if (clipsHdr(storage.dataType, depth)) {
        report.clippedSamples = samplesOutsideUnitRange(stored);
    }
    if (spec_.rows) {
        // A strip is rows of the frame, stored plain; its record carries the windows to the merge.
        PlateFileOptions stripOptions = fileOptions;
        stripOptions.metadata.windows = {};
        const auto strip = writePlateAside(spec_.output, image, stripOptions, &cancel);
        StripFacts facts;
        facts.input = spec_.input;
        facts.clip = &clip;
        facts.rows = *spec_.rows;
        facts.plan = rendered.plan;
        facts.format = format;
        facts.format.sampleType = storageRequest.footageType;
        facts.depth = depth;
        facts.file = fileOptions;
        facts.dataTypeAsked = spec_.dataType;
        facts.compressionAsked = spec_.compression;
        facts.workingSpace = working.space.name();
        putStripInPlace(spec_.output, *strip, facts);
    } else {
        writePlate(spec_.output, image, fileOptions, &cancel);
    }
    report.plateDataType = storage.dataType;
    report.lossyPlate = storage.lossy;
    report.phaseSeconds.emplace_back(
        "write",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count());
    report.plateWidth = stored.width;
    report.plateHeight = stored.height;
}

} // namespace framemeld::cli
