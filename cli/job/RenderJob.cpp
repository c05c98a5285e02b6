#include "cli/job/RenderJob.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <utility>

#include "cli/core/CliError.h"
#include "cli/farm/FarmStrips.h"
#include "cli/farm/StripRecord.h"
#include "cli/footage/ClipFrameSource.h"
#include "cli/footage/EncodeStage.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/FrameAlignment.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/footage/MotionEstimate.h"
#include "cli/footage/MotionProbe.h"
#include "cli/footage/WarpStage.h"
#include "cli/job/JobThreads.h"
#include "cli/job/MemoryBudget.h"
#include "cli/job/MotionFile.h"
#include "cli/job/PlateAlignment.h"
#include "cli/job/PlateExamination.h"
#include "cli/job/PlateRender.h"
#include "cli/job/WorkingSpaceSetup.h"
#include "cli/plate/MatteFiles.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/PlateProvenance.h"
#include "cli/plate/PlateStorage.h"
#include "cli/plate/PlateWindows.h"
#include "cli/plate/PlateWriter.h"
#include "cli/plugin/PluginLocation.h"
#include "cli/plugin/PluginSession.h"

namespace framemeld::cli {
namespace {

void throwIfCancelled(const std::atomic<bool> &cancel)
{
    if (cancel.load()) {
        throw CancelledError();
    }
}

// Frames are warped: registered here, or with the transforms of a motion file.
bool aligns(const RenderJobSpec &spec)
{
    return (spec.align && *spec.align != align::MotionModel::None) || !spec.motion.empty();
}

MemoryPlanInput memoryPlanInput(const RenderJobSpec &spec, const Clip &clip,
                                const FootageFormat &format, Depth depth, const SamplingPlan &plan)
{
    MemoryPlanInput input;
    input.width = format.width;
    input.height = format.height;
    input.depth = depth;
    input.frames = static_cast<int>(std::set<int>(plan.frames.begin(), plan.frames.end()).size());
    input.threads = jobThreads(spec.threads);
    input.fileBytesPerPixel =
        format.channels * static_cast<int>(runner::bytesPerChannel(format.naturalDepth));
    // A warp needs whole frames, so aligned frames are held in memory or in the scratch file.
    input.rowAccess = format.rowAccess && clip.kind == ClipKind::ImageSequence && !aligns(spec);
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

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool examinesPlate(const RenderJobSpec &spec)
{
    return !spec.holdout.empty() || !spec.confidence.empty() || !spec.mattes.empty();
}

// What the holdout mattes, the confidence and the difference mattes hold beside the render's
// own memory: taken from the budget before the frames are planned, so the run stays within it.
std::uint64_t examinationBytes(const RenderJobSpec &spec, const FootageFormat &format, Depth depth,
                               int frames, bool stillMatte)
{
    const int height = spec.rows ? spec.rows->bottom - spec.rows->top : format.height;
    std::uint64_t bytes = 0;
    if (!spec.holdout.empty() || aligns(spec)) {
        // Alignment holds out what each warped frame leaves uncovered: a matte per frame.
        bytes += HoldoutMattes::bytesFor(format.width, format.height, frames,
                                         stillMatte && !aligns(spec));
    }
    bytes += PlateExamination::bytesFor(format.width, height, frames, !spec.confidence.empty(),
                                        !spec.mattes.empty());
    // The image of one file being written: the confidence at the render depth, a matte at 8 bits.
    std::uint64_t writing = 0;
    if (!spec.confidence.empty()) {
        writing = worldBytes(format.width, height, depth);
    }
    if (!spec.mattes.empty()) {
        writing = std::max(writing, worldBytes(format.width, height, Depth::Bits8));
    }
    return bytes + writing;
}

// Proxies this small are part of the program's own overhead, which the budget leaves out (README:
// "What the budget counts"): the proxies of a few 1080p frames, or of a clip of small ones.
constexpr std::uint64_t kProxyOverhead = 1ull << 20;

// Whether the motion probe's proxies fit in the budget beside the frames: within the overhead, in
// what holding every frame in memory leaves, or, where the frames take the whole budget, in at
// most half of it taken before the frames are planned (`memory` is then planned again without
// it). A farm node's rows were sized to its budget, so there the proxies take only what is left.
// Otherwise the probe is left out: a run never holds more than --memory for a figure.
bool roomForProxies(std::uint64_t proxyBytes, const MemoryPlanInput &input, bool farmNode,
                    MemoryPlan &memory)
{
    if (proxyBytes <= kProxyOverhead) {
        return true;
    }
    if (memory.storage == FrameStorage::Memory) {
        return input.budget - memory.wholeClipBytes >= proxyBytes;
    }
    if (farmNode || proxyBytes > input.budget / 2) {
        return false;
    }
    MemoryPlanInput rest = input;
    rest.budget -= proxyBytes;
    try {
        const MemoryPlan plan = planMemory(rest);
        if (plan.storage != memory.storage) {
            return false;
        }
        memory = plan;
        return true;
    } catch (const RunError &) {
        return false;
    }
}

// Readies the motion probe where the run can afford it (`proxiesFit`: roomForProxies): every row
// of every frame seen as it is decoded. Otherwise the report says why it measures nothing. Added
// before any other stage, so it sees the footage as decoded.
std::shared_ptr<const MotionProbe> probeMotion(const RenderJobSpec &spec,
                                               const FootageFormat &format, Depth depth,
                                               const MemoryPlan &memory, bool proxiesFit,
                                               RunReport &report, ClipFrameSource &frames)
{
    MotionMeasurement unmeasured;
    if (aligns(spec)) {
        unmeasured.reason =
            spec.motion.empty() ? "--align registers the frames" : "--motion registers the frames";
    } else if (memory.storage == FrameStorage::FileRows && spec.rows) {
        // A node reads only its own rows, and a second decode of the rest would cost as much as
        // the read itself.
        unmeasured.reason = "a farm node that reads its frames a few rows at a time sees only "
                            "its own rows";
    } else if (!proxiesFit) {
        unmeasured.reason = "the memory budget leaves no room for the frames' proxies";
    } else {
        // Frames read a few rows at a time give the probe their rows as they are decoded; the
        // render reads every row of every sampled frame.
        const ProbeReads reads = memory.storage == FrameStorage::FileRows ? ProbeReads::RowBands
                                                                          : ProbeReads::WholeFrames;
        auto probe = std::make_shared<const MotionProbe>(depth, format.width, format.height, reads);
        frames.addStage(StageOrder::Probe, probe);
        return probe;
    }
    report.motion = unmeasured;
    return nullptr;
}

// The sampled frames (each once, in their order) registered to the middle one, the reference
// --align would take.
MotionMeasurement measureSampledMotion(const MotionProbe &probe, const std::vector<int> &sampled,
                                       int threads)
{
    std::vector<std::pair<int, const GreyProxy *>> frames;
    std::vector<std::shared_ptr<const GreyProxy>> held;
    std::set<int> seen;
    std::optional<std::size_t> reference;
    const int middle = sampled.empty() ? -1 : sampled[sampled.size() / 2];
    for (const int frame : sampled) {
        if (!seen.insert(frame).second) {
            continue;
        }
        held.push_back(probe.proxy(frame));
        if (!held.back()) {
            continue; // not decoded whole: no figure rather than a guess
        }
        if (frame == middle) {
            reference = frames.size();
        }
        frames.emplace_back(frame, held.back().get());
    }
    if (!reference) {
        MotionMeasurement unseen;
        unseen.reason = "the reference frame was not seen whole";
        return unseen;
    }
    try {
        return measureMotion(frames, *reference, threads);
    } catch (const std::exception &error) {
        // A word of advice, never worth the plate the run has made.
        MotionMeasurement failed;
        failed.reason = std::string("the measurement failed: ") + error.what();
        return failed;
    }
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
    if (!spec_.mattes.empty()) {
        matteFileName(spec_.mattes, 0); // a pattern with the frame number, or a usage error
    }
    if (!spec_.motion.empty() && spec_.align == align::MotionModel::None) {
        throw UsageError("--align none renders the frames as they are, and --motion warps them: "
                         "give one of the two");
    }
    if (spec_.reference && !aligns(spec_)) {
        throw UsageError("--reference names the frame --align registers the others to: give "
                         "--align translation, similarity or perspective too");
    }
    if (spec_.holdoutInvert && spec_.holdout.empty()) {
        throw UsageError("--holdout-invert turns a holdout matte round: give the matte with "
                         "--holdout MATTE");
    }
    // Read and checked in itself before the module loads or any footage is looked at.
    std::optional<MotionFile> motion;
    if (!spec_.motion.empty()) {
        motion = readMotionFile(spec_.motion);
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
    if (motion) {
        MotionRun run;
        run.width = format.width;
        run.height = format.height;
        for (const int frame : input.plan.frames) {
            run.frames.push_back(report.numbering->first + frame);
        }
        run.model = spec_.align;
        run.reference = spec_.reference;
        checkMotionFileFitsRun(*motion, spec_.motion, run);
    }
    const std::optional<long long> referenceAsked =
        motion ? std::optional<long long>(motion->alignment.reference) : spec_.reference;
    const int reference =
        aligns(spec_) ? referenceFrame(referenceAsked, input.plan, report.numbering->first) : 0;
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
    input.threads = jobThreads(spec_.threads);

    // Every output name is checked against the others and the inputs before anything is read.
    Clip matteClip;
    RunOutputs outputs;
    outputs.plate = spec_.output;
    outputs.input = spec_.input;
    outputs.footage = &clip;
    if (!spec_.holdout.empty()) {
        report.holdout = spec_.holdout;
        matteClip = HoldoutMattes::discover(spec_.holdout, clip, input.plan.frames);
        outputs.holdout = spec_.holdout;
        outputs.holdoutClip = &matteClip;
    }
    outputs.confidence = spec_.confidence;
    const long long firstNumber = report.numbering->first;
    if (!spec_.mattes.empty()) {
        for (const int frame : input.plan.frames) {
            outputs.mattes.push_back(matteFileName(spec_.mattes, firstNumber + frame));
        }
    }
    if (examinesPlate(spec_)) {
        checkRunOutputs(outputs);
    }
    if (spec_.rows) {
        // Their strips have records of their own, as the plate's has.
        if (!spec_.confidence.empty()) {
            checkStripRecordPath(spec_.confidence);
        }
        for (const std::string &matte : outputs.mattes) {
            checkStripRecordPath(matte);
        }
    }

    // Sized before any decoding, so a budget too small for even one row of every frame is said
    // at once.
    MemoryPlanInput memoryInput = memoryPlanInput(spec_, clip, format, depth, input.plan);
    report.memoryBudget = memoryInput.budget;
    if (examinesPlate(spec_) || aligns(spec_)) {
        const bool stillMatte =
            !spec_.holdout.empty() && matteClip.frameCount == 1 && !matteClip.fileNumbers;
        const std::uint64_t extra =
            examinationBytes(spec_, format, depth, memoryInput.frames, stillMatte);
        if (extra >= memoryInput.budget) {
            throw RunError("the memory budget of " + std::to_string(memoryInput.budget) +
                           " bytes cannot hold the holdout mattes, the confidence and the "
                           "difference mattes of this run (" +
                           std::to_string(extra) + " bytes) beside any frame");
        }
        memoryInput.budget -= extra;
    }
    input.memory = planMemory(memoryInput);
    // Only a run the probe measures takes room for it (see probeMotion).
    const std::uint64_t proxyBytes =
        static_cast<std::uint64_t>(MotionProbe::bytesPerFrame(format.width, format.height)) *
        static_cast<std::uint64_t>(memoryInput.frames);
    const bool proxiesFit =
        !aligns(spec_) && !(input.memory.storage == FrameStorage::FileRows && spec_.rows) &&
        roomForProxies(proxyBytes, memoryInput, spec_.rows.has_value(), input.memory);
    report.memory = input.memory;
    input.rows = spec_.rows;
    if (spec_.rows) {
        checkStripRows(*spec_.rows, format, input.memory);
    }

    std::shared_ptr<HoldoutMattes> holdoutMattes;
    if (!spec_.holdout.empty()) {
        // Read whole and checked before any frame of the footage is decoded.
        const auto matteStart = std::chrono::steady_clock::now();
        HoldoutMatteRequest matteRequest{spec_.holdout, spec_.holdoutInvert};
        holdoutMattes = std::make_shared<HoldoutMattes>(
            HoldoutMattes::read(matteRequest, matteClip, clip, format, input.plan.frames,
                                jobThreads(spec_.threads), &cancel));
        report.phaseSeconds.emplace_back("holdout", secondsSince(matteStart));
        throwIfCancelled(cancel);
    }
    const std::unique_ptr<ClipFrameSource> frames = makeClipFrameSource(
        input.memory.storage, clip, format, depth, input.memory.decodeThreads, &cancel);
    // Frames held in memory anyway are decoded once: registered where they are held and warped
    // there, when the budget has room for the grey proxies beside them (else registration
    // decodes each frame for its proxy before the frames are held).
    const bool registerHeldFrames =
        aligns(spec_) && !motion && input.memory.storage == FrameStorage::Memory &&
        memoryInput.budget - input.memory.wholeClipBytes >=
            registrationProxyBytes(align::alignModule(), format,
                                   static_cast<std::size_t>(memoryInput.frames));
    if (registerHeldFrames) {
        readFrames(*frames, input, progress);
        input.framesRead = true;
        throwIfCancelled(cancel);
    }
    PlateAlignment alignment;
    double warpSeconds = 0;
    if (aligns(spec_)) {
        const auto alignStart = std::chrono::steady_clock::now();
        PlateAlignmentRequest request;
        request.clip = &clip;
        request.format = format;
        request.depth = depth;
        request.frames = input.plan.frames;
        request.reference = reference;
        request.firstNumber = firstNumber;
        request.threads = jobThreads(spec_.threads);
        request.cancel = &cancel;
        // Registration comes before any frame is held: the budget less what the mattes and the
        // examination keep.
        request.memory = memoryInput.budget;
        if (motion) {
            request.model = motion->model;
            alignment = warpPlate(request, motion->alignment, holdoutMattes);
        } else {
            request.model = *spec_.align;
            if (registerHeldFrames) {
                const align::AlphaKind alpha = alphaKindOf(format);
                request.heldFrame = [&frames, depth, alpha](int frame) {
                    const runner::World &world = frames->frame(frame);
                    align::HostFrameView view;
                    view.width = world.width();
                    view.height = world.height();
                    view.rowBytes = world.rowStride();
                    view.depth = depth;
                    view.alpha = alpha;
                    view.pixels = world.row(0);
                    return view;
                };
            }
            alignment = alignPlate(request, holdoutMattes);
        }
        report.alignment = alignment.report;
        warpSeconds = secondsSince(alignStart);
        throwIfCancelled(cancel);
    }
    input.holdout = holdoutMattes;
    input.warpedBy = spec_.motion.empty() ? "--align" : "--motion";

    const std::shared_ptr<const MotionProbe> probe =
        probeMotion(spec_, format, depth, input.memory, proxiesFit, report, *frames);
    if (alignment.warp) {
        // Frames already held are warped here, in place; the others as they are decoded.
        const auto warpStart = std::chrono::steady_clock::now();
        frames->addStage(StageOrder::Warp, alignment.warp);
        warpSeconds += secondsSince(warpStart);
    }
    if (aligns(spec_)) {
        report.phaseSeconds.emplace_back("align", warpSeconds);
    }
    if (working.space.changesPixels()) {
        frames->addStage(StageOrder::Encode, std::make_shared<EncodeStage>(working.space, depth));
    }
    // The plate is examined in the values the plug-in compared, before it leaves the working
    // space.
    PlateExamination examination;
    double examineSeconds = 0;
    if (examinesPlate(spec_) || input.holdout) {
        input.examine = [&](runner::World &plate, const RenderedPlate &made) {
            const auto examineStart = std::chrono::steady_clock::now();
            PlateExaminationRequest request;
            request.frames = made.plan.frames;
            request.divergence = made.plan.divergence;
            request.ratingRange = made.plan.ratingRange;
            request.holdout = input.holdout.get();
            request.codes = made.holdoutCodes ? &*made.holdoutCodes : nullptr;
            request.confidence = !spec_.confidence.empty();
            request.differences = !spec_.mattes.empty();
            request.top = spec_.rows ? spec_.rows->top : 0;
            request.memory = input.memory;
            request.threads = jobThreads(spec_.threads);
            request.cancel = &cancel;
            examination = examinePlate(*frames, plate, request);
            examineSeconds = secondsSince(examineStart);
        };
    }
    RenderedPlate rendered = renderPlate(session, *frames, input, progress);
    report.plan = rendered.plan; // with the values the render used
    report.slidersSettled = true;
    if (input.automatic.divergence) {
        report.noiseSigma = rendered.noise.sigma;
    }
    report.scratchBytes = frames->scratchBytes();
    report.phaseSeconds.emplace_back("read", rendered.readSeconds);
    report.phaseSeconds.emplace_back("estimate", rendered.estimateSeconds);
    report.phaseSeconds.emplace_back("render", rendered.renderSeconds);
    if (probe) {
        const auto motionStart = std::chrono::steady_clock::now();
        report.motion = measureSampledMotion(*probe, rendered.plan.frames, input.threads);
        report.phaseSeconds.emplace_back("motion", secondsSince(motionStart));
    }
    if (examinesPlate(spec_) || input.holdout) {
        if (input.holdout) {
            report.holes = examination.holes;
        }
        report.phaseSeconds.emplace_back("examine", examineSeconds);
    }

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
    // On a farm node each file is a strip, put in place together with the record `merge` joins
    // and checks it by; a single run writes each whole or not at all.
    const auto putFile = [&](const std::string &path, const PlateImage &pixels,
                             const PlateFileOptions &options, const FootageFormat &shape,
                             const std::string &what) {
        if (!spec_.rows) {
            writePlate(path, pixels, options, &cancel);
            return;
        }
        // A strip is rows of the frame, stored plain; its record carries the windows to the merge.
        PlateFileOptions stripOptions = options;
        stripOptions.metadata.windows = {};
        const auto strip = writePlateAside(path, pixels, stripOptions, &cancel);
        StripFacts facts;
        facts.input = spec_.input;
        facts.clip = &clip;
        facts.rows = *spec_.rows;
        facts.plan = rendered.plan;
        facts.format = shape;
        facts.format.sampleType = storageRequest.footageType;
        facts.depth = pixels.depth;
        facts.file = options;
        if (what.empty()) {
            facts.dataTypeAsked = spec_.dataType;
            facts.compressionAsked = spec_.compression;
        }
        facts.workingSpace = working.space.name();
        facts.image = what;
        if (alignment.warp) {
            facts.alignment = transformsDigest(alignment.report);
        }
        putStripInPlace(path, *strip, facts);
    };
    // The files beside the plate go first and the plate last; a failure anywhere removes the
    // ones this run put in place (see MatteFiles.h).
    WrittenFiles written;
    FootageFormat oneChannel = format;
    oneChannel.hasAlpha = false;
    oneChannel.unassociatedAlpha = false;
    const auto besidePlate = [&](const std::string &what) {
        return [&, what](const std::string &path, const PlateImage &pixels,
                         const PlateFileOptions &options) {
            putFile(path, pixels, options, oneChannel, what);
            written.add(path);
            if (spec_.rows) {
                written.add(stripRecordPath(path));
            }
        };
    };
    if (!spec_.confidence.empty()) {
        writeConfidenceImage(spec_.confidence, examination.confidence, examination.width,
                             examination.height, depth, besidePlate("confidence"));
    }
    std::vector<unsigned char> matteScratch;
    for (std::size_t k = 0; k < outputs.mattes.size(); ++k) {
        writeDifferenceMatte(
            outputs.mattes[k], examination.width, examination.height, matteScratch,
            [&](int x, int y) { return examination.differs(static_cast<int>(k), x, y); },
            besidePlate("difference matte of frame " +
                        std::to_string(firstNumber + rendered.plan.frames[k])));
    }
    putFile(spec_.output, image, fileOptions, format, {});
    written.keep();
    report.plateDataType = storage.dataType;
    report.lossyPlate = storage.lossy;
    report.confidenceFile = spec_.confidence;
    report.matteFiles = outputs.mattes;
    report.phaseSeconds.emplace_back(
        "write",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count());
    report.plateWidth = stored.width;
    report.plateHeight = stored.height;
    report.plateAlpha = fileOptions.withAlpha;
}

} // namespace framemeld::cli
