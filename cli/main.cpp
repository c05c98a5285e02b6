// framemeld: footage in, clean plate out, through the host runner and the Framemeld module.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/app/CancelSignal.h"
#include "cli/app/Options.h"
#include "cli/app/ProgressBar.h"
#include "cli/app/ThirdPartyLeaks.h"
#include "cli/app/VersionReport.h"
#include "cli/core/CliError.h"
#include "cli/farm/FarmStrips.h"
#include "cli/files/ScratchFile.h"
#include "cli/footage/FileRowsFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/FootageFrameSource.h"
#include "cli/footage/NoiseMeasurement.h"
#include "cli/footage/ScratchFrameSource.h"
#include "cli/job/MemoryBudget.h"
#include "cli/job/RunReport.h"
#include "cli/plan/AutoSettings.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/MemorySize.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/PlateWriter.h"
#include "cli/plugin/ModuleDefaultsProbe.h"
#include "cli/plugin/ModuleFaultGuard.h"
#include "cli/plugin/PluginLocation.h"
#include "cli/plugin/PluginSession.h"
#include "cli/text/PrintableText.h"

using namespace framemeld::cli;
namespace runner = framemeld::runner;

namespace {

// --help shows the plug-in's own slider defaults when the module is at hand and gives them
// safely; the help is still worth showing without them.
HelpDefaults helpDefaults(const Options &options)
{
    HelpDefaults defaults;
    std::string modulePath;
    try {
        modulePath = locatePlugin(options.plugin);
    } catch (const std::exception &) {
        return defaults;
    }
    if (const auto fromModule = probeModuleDefaults(modulePath, std::chrono::seconds(10))) {
        defaults.divergence = fromModule->divergence;
        defaults.ratingRange = fromModule->ratingRange;
    }
    return defaults;
}

int threadCount(const Options &options)
{
    if (options.threads > 0) {
        return options.threads;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

std::string everyText(int every)
{
    if (every == 1) {
        return "every frame";
    }
    const char *suffix = (every % 10 == 1 && every % 100 != 11)   ? "st"
                         : (every % 10 == 2 && every % 100 != 12) ? "nd"
                         : (every % 10 == 3 && every % 100 != 13) ? "rd"
                                                                  : "th";
    return "every " + std::to_string(every) + suffix + " frame";
}

// The sampled frames in request order, as the footage source already holds them.
std::vector<const runner::World *> decodedFrames(FootageFrameSource &source,
                                                 const std::vector<int> &frames)
{
    std::vector<const runner::World *> worlds;
    worlds.reserve(frames.size());
    for (const int frame : frames) {
        worlds.push_back(&source.frame(frame));
    }
    return worlds;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A full disk or a closed pipe must not pass for success: pipelines and `make` read the status.
void writeToStdout(const std::string &text)
{
    errno = 0;
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written || std::ferror(stdout)) {
        const int error = errno;
        throw RunError(std::string("cannot write to standard output: ") +
                       (error != 0 ? std::strerror(error) : "write error"));
    }
}

// Only when INPUT is given with --help: which numbering --start and --end use for it.
std::string clipNumberingNote(const Options &options)
{
    if (options.input.empty()) {
        return {};
    }
    try {
        const Clip clip = discoverClip(options.input);
        const FrameNumbering numbering{clip.frameCount, clip.firstNumber, clip.fileNumbers};
        return "\n" + options.input + ": --start and --end take " + numbering.describe() + "\n";
    } catch (const std::exception &error) {
        return "\n" + options.input + ": " + error.what() + "\n";
    }
}

// `--divergence auto`: the Divergence is measured from the decoded frames before the render.
struct DivergenceChoice {
    bool automatic = false;
    SliderRange range; // what the slider accepts
    // `--rating-range auto`: the Rating Range follows the number of frames sampled.
    bool ratingRangeAutomatic = false;
    SliderRange ratingRange;
};

struct Rendered {
    runner::World plate;
    double readSeconds = 0;
    double estimateSeconds = 0;
    double renderSeconds = 0;
    std::uint64_t scratchBytes = 0;
    NoiseEstimate noise; // when the Divergence is automatic
};

// Sets the plan's Divergence from the footage's noise when it is automatic; the estimate's time
// is its own phase.
void chooseDivergence(const DivergenceChoice &choice, Depth depth,
                      const std::function<NoiseEstimate()> &estimate, SamplingPlan &plan,
                      Rendered &rendered)
{
    const auto phaseStart = std::chrono::steady_clock::now();
    if (choice.automatic) {
        rendered.noise = estimate();
        plan.divergence = std::clamp(divergenceForNoise(rendered.noise.sigma, depth),
                                     choice.range.validMin, choice.range.validMax);
    }
    rendered.estimateSeconds = secondsSince(phaseStart);
    if (choice.ratingRangeAutomatic) {
        plan.ratingRange = std::clamp(ratingRangeFor(plan.frames.size()),
                                      choice.ratingRange.validMin, choice.ratingRange.validMax);
    }
}

// Every sampled frame in memory and one render: the fastest way when the clip fits.
Rendered renderWholeClip(PluginSession &session, const Clip &clip, const FootageFormat &format,
                         Depth depth, const DivergenceChoice &choice, SamplingPlan &plan,
                         const Options &options, ProgressBar &bar)
{
    Rendered rendered;
    // Where the time goes, for users weighing --every, --threads or another footage format.
    auto phaseStart = std::chrono::steady_clock::now();
    FootageFrameSource source(clip, format, depth, threadCount(options), &session.cancelFlag());
    bar.startPhase("Reading frames", static_cast<long long>(plan.frames.size()));
    source.decode(plan.frames,
                  [&bar](long long done, long long total) { bar.update(done, total); });
    rendered.readSeconds = secondsSince(phaseStart);

    chooseDivergence(
        choice, depth, [&] { return estimateTemporalNoise(decodedFrames(source, plan.frames)); },
        plan, rendered);

    phaseStart = std::chrono::steady_clock::now();
    session.apply(plan);
    bar.startPhase("Rendering", 1);
    const auto progress = [&bar](long done, long total) { bar.update(done, total); };
    rendered.plate =
        options.rows ? session.renderRows(source, options.rows->top, options.rows->bottom, progress)
                     : session.render(source, progress);
    bar.update(1, 1);
    bar.finish();
    rendered.renderSeconds = secondsSince(phaseStart);
    return rendered;
}

// Each sampled frame decoded once into a scratch file, then the plate rendered strip by strip
// from its rows there. One progress job: decoding fills the first half of the bar, the strips
// the second.
Rendered renderThroughScratch(PluginSession &session, const Clip &clip, const FootageFormat &format,
                              Depth depth, const DivergenceChoice &choice, SamplingPlan &plan,
                              const StripPlan &strips, const std::optional<RowSpan> &rows,
                              ProgressBar &bar)
{
    constexpr long long kTicks = 1000;
    Rendered rendered;
    auto phaseStart = std::chrono::steady_clock::now();
    ScratchFrameSource source(clip, format, depth, strips.decodeThreads, &session.cancelFlag(),
                              ScratchFile::defaultFolder());
    bar.startPhase("Reading and rendering", kTicks);
    source.decode(plan.frames, [&bar](long long done, long long total) {
        bar.update(total > 0 ? done * (kTicks / 2) / total : 0);
    });
    rendered.readSeconds = secondsSince(phaseStart);
    rendered.scratchBytes = source.scratchBytes();

    // The same rows as the whole-clip estimate, read back from the scratch file: the value must
    // not depend on the memory budget, and no frame is decoded twice or held whole.
    chooseDivergence(
        choice, depth, [&] { return estimateTemporalNoise(source, plan.frames); }, plan, rendered);

    phaseStart = std::chrono::steady_clock::now();
    session.apply(plan);
    const auto progress = [&bar](double done) {
        bar.update(kTicks / 2 + static_cast<long long>(done * static_cast<double>(kTicks / 2)));
    };
    rendered.plate =
        rows ? session.renderRows(source, rows->top, rows->bottom,
                                  [&progress](long done, long total) {
                                      progress(total > 0 ? static_cast<double>(done) /
                                                               static_cast<double>(total)
                                                         : 0.0);
                                  })
             : session.renderInStrips(source, strips.rowsPerStrip, progress);
    bar.update(kTicks);
    bar.finish();
    rendered.renderSeconds = secondsSince(phaseStart);
    return rendered;
}

// Footage that reads any run of rows on its own: each strip's rows of every sampled frame are
// decoded from the files as the strip's render begins, so nothing is written aside and each
// block of a file is decoded once. The bar follows the strips; reading is timed apart from the
// render it interleaves with.
Rendered renderFromFileRows(PluginSession &session, const Clip &clip, const FootageFormat &format,
                            Depth depth, const DivergenceChoice &choice, SamplingPlan &plan,
                            const StripPlan &strips, const std::optional<RowSpan> &rows,
                            ProgressBar &bar)
{
    constexpr long long kTicks = 1000;
    Rendered rendered;
    FileRowsFrameSource source(clip, format, depth, strips.decodeThreads, &session.cancelFlag());
    source.sampleFrames(plan.frames);
    // The estimate reads its few rows of each frame from the files, apart from the strips, a row
    // of every frame at a time.
    chooseDivergence(
        choice, depth,
        [&] {
            return estimateTemporalNoise(
                format.width, format.height, depth, plan.frames,
                [&source](int row, const std::vector<int> &frames, runner::World &into) {
                    source.gatherRow(row, frames, into);
                });
        },
        plan, rendered);
    const double readBeforeRender = source.readSeconds();

    const auto phaseStart = std::chrono::steady_clock::now();
    session.apply(plan);
    bar.startPhase("Reading and rendering", kTicks);
    const auto progress = [&bar](double done) {
        bar.update(static_cast<long long>(done * static_cast<double>(kTicks)));
    };
    rendered.plate =
        rows ? session.renderRows(source, rows->top, rows->bottom,
                                  [&progress](long done, long total) {
                                      progress(total > 0 ? static_cast<double>(done) /
                                                               static_cast<double>(total)
                                                         : 0.0);
                                  })
             : session.renderInStrips(source, strips.rowsPerStrip, progress);
    bar.update(kTicks);
    bar.finish();
    rendered.readSeconds = source.readSeconds() - readBeforeRender;
    rendered.renderSeconds = secondsSince(phaseStart) - rendered.readSeconds;
    return rendered;
}

int runMerge(const Options &options, RunReport &report)
{
    report.output = options.output;
    std::atomic<bool> cancel{false};
    CancelSignal onCtrlC(cancel);
    const MergedPlate plate = mergeStrips(options.output, options.strips, &cancel);
    report.plateWidth = plate.width;
    report.plateHeight = plate.height;
    report.renderBits = plate.bits;
    if (!options.quiet) {
        std::fprintf(stderr, "framemeld: merged %zu strips into %s (%dx%d, %d-bit render)\n",
                     options.strips.size(), printableText(options.output).c_str(), plate.width,
                     plate.height, plate.bits);
    }
    return kExitOk;
}

int run(const Options &options, RunReport &report)
{
    if (options.help) {
        writeToStdout(helpText("framemeld", helpDefaults(options)) + clipNumberingNote(options));
        return kExitOk;
    }
    if (options.merge) {
        return runMerge(options, report);
    }
    if (options.version) {
        std::string firstLine;
        try {
            writeToStdout(versionReport(options.plugin, firstLine));
        } catch (const RunError &) {
            // The tool's own version is still worth telling when the module is what broke.
            std::fputs(firstLine.c_str(), stdout);
            throw;
        }
        return kExitOk;
    }
    report.input = options.input;
    report.output = options.output;

    // Cheap checks first, so that a typo does not cost a long decode.
    checkOutputPath(options.output);
    const std::string modulePath = locatePlugin(options.plugin);
    PluginSession session(modulePath, options.threads);
    report.plugin = session.modulePath();
    // From here on Ctrl-C cancels: opening a movie and loading OpenImageIO take a while.
    CancelSignal onCtrlC(session.cancelFlag());
    const SliderRanges ranges = session.sliderRanges();
    SliderRequest sliders;
    sliders.start = options.start;
    sliders.end = options.end;
    sliders.every = options.every;
    sliders.divergence = options.divergenceAuto ? SliderChoice::automatic()
                         : options.divergence   ? SliderChoice::of(*options.divergence)
                                                : SliderChoice{};
    sliders.ratingRange = options.ratingRangeAuto ? SliderChoice::automatic()
                          : options.ratingRange   ? SliderChoice::of(*options.ratingRange)
                                                  : SliderChoice{};
    checkSliderRanges(sliders, ranges);

    const Clip clip = discoverClip(options.input);
    report.numbering = FrameNumbering{clip.frameCount, clip.firstNumber, clip.fileNumbers};
    checkOutputIsNoInput(options.output, clip);
    checkOutputStaysOutOfTheClip(options.output, options.input);
    const FootageFormat format = probeFootage(clip);
    SamplingPlan plan = planSampling(sliders, ranges, *report.numbering);
    report.plan = plan;
    DivergenceChoice choice;
    choice.automatic = options.divergenceAuto || !options.divergence;
    choice.range = ranges.divergence;
    report.divergenceAuto = choice.automatic;
    // Unset, the Rating Range goes with the Divergence: both measured, or both the user's.
    choice.ratingRangeAutomatic =
        options.ratingRangeAuto || (!options.ratingRange && choice.automatic);
    choice.ratingRange = ranges.ratingRange;
    report.ratingRangeAuto = choice.ratingRangeAutomatic;
    const Depth depth =
        options.depth ? *runner::depthFromBits(*options.depth) : format.naturalDepth;
    report.renderBits = runner::bitsPerChannel(depth);

    // Sized before any decoding, so a budget too small for even one row of every frame is said
    // at once.
    StripPlanInput planInput;
    planInput.width = format.width;
    planInput.height = format.height;
    planInput.depth = depth;
    planInput.frames =
        static_cast<int>(std::set<int>(plan.frames.begin(), plan.frames.end()).size());
    planInput.threads = threadCount(options);
    planInput.fileBytesPerPixel =
        format.channels * static_cast<int>(runner::bytesPerChannel(format.naturalDepth));
    planInput.rowAccess = format.rowAccess && clip.kind == ClipKind::ImageSequence;
    planInput.rowBlock = format.rowBlock;
    planInput.budget = memoryBudget(options.memory);
    const StripPlan strips = planStrips(planInput);
    if (options.rows) {
        checkStripRows(*options.rows, format, strips);
    }

    ProgressBar bar(stderr, !options.quiet && isTerminal(stderr));
    // A farm node's band of rows is read from the files alone whenever they allow it, whatever
    // the budget: the node then decodes its share of each frame, not the whole.
    const bool fromFiles = strips.fromFiles || (options.rows && planInput.rowAccess);
    const Rendered rendered =
        fromFiles ? renderFromFileRows(session, clip, format, depth, choice, plan, strips,
                                       options.rows, bar)
        : strips.wholeClip
            ? renderWholeClip(session, clip, format, depth, choice, plan, options, bar)
            : renderThroughScratch(session, clip, format, depth, choice, plan, strips, options.rows,
                                   bar);
    const runner::World &plate = rendered.plate;
    report.plan = plan; // with the Divergence the render used
    if (choice.automatic) {
        report.noiseSigma = rendered.noise.sigma;
    }
    report.phaseSeconds.emplace_back("read", rendered.readSeconds);
    report.phaseSeconds.emplace_back("estimate", rendered.estimateSeconds);
    report.phaseSeconds.emplace_back("render", rendered.renderSeconds);

    auto phaseStart = std::chrono::steady_clock::now();
    PlateImage image;
    image.width = plate.width();
    image.height = plate.height();
    image.depth = plate.depth();
    image.pixels = plate.row(0);
    image.rowBytes = plate.rowStride();
    PlateFileOptions fileOptions;
    fileOptions.withAlpha = format.hasAlpha;
    fileOptions.unassociatedAlpha = format.unassociatedAlpha;
    writePlate(options.output, image, fileOptions, &session.cancelFlag());
    if (options.rows) {
        recordStrip(options.output, options.input, *options.rows, plan, format, depth);
    }
    report.phaseSeconds.emplace_back("write", secondsSince(phaseStart));
    report.plateWidth = image.width;
    report.plateHeight = image.height;

    if (!options.quiet) {
        const long long first = report.numbering->first;
        std::fprintf(stderr,
                     "framemeld: wrote %s (%dx%d, %d-bit render) from %zu of %d frames (%s, %lld "
                     "to %lld; %s)\n",
                     printableText(options.output).c_str(), image.width, image.height,
                     report.renderBits, plan.frames.size(), clip.frameCount,
                     everyText(plan.every).c_str(), first + plan.start, first + plan.end,
                     report.numbering->describe().c_str());
        if (options.rows && fromFiles) {
            std::fprintf(stderr, "framemeld: rows %d:%d read from the files\n", options.rows->top,
                         options.rows->bottom);
        } else if (fromFiles) {
            std::fprintf(stderr,
                         "framemeld: within a budget of %s: read from the files in strips of %d "
                         "rows\n",
                         memoryText(planInput.budget).c_str(), strips.rowsPerStrip);
        } else if (!strips.wholeClip) {
            std::fprintf(stderr,
                         "framemeld: within a budget of %s: %s of frames in a scratch file, "
                         "rendered in strips of %d rows\n",
                         memoryText(planInput.budget).c_str(),
                         memoryText(rendered.scratchBytes).c_str(), strips.rowsPerStrip);
        }
        // Both sliders in the host's own units, so that the effect set to them gives this plate.
        if (choice.automatic) {
            std::fprintf(stderr,
                         "framemeld: divergence %g (auto: temporal noise %.3g levels of 255)",
                         plan.divergence, rendered.noise.sigma * 255.0);
        } else {
            std::fprintf(stderr, "framemeld: divergence %g", plan.divergence);
        }
        std::fprintf(stderr, ", rating range %g%s\n", plan.ratingRange,
                     choice.ratingRangeAutomatic ? " (auto)" : "");
        // Frames per second read is the figure to weigh against the footage's own frame rate.
        const double readSeconds = rendered.readSeconds;
        const double framesPerSecond =
            readSeconds > 0 ? static_cast<double>(plan.frames.size()) / readSeconds : 0.0;
        std::fprintf(stderr,
                     "framemeld: read %.2f s (%.1f frames/s), estimate %.3f s, render %.2f s, "
                     "write %.2f s\n",
                     readSeconds, framesPerSecond, rendered.estimateSeconds, rendered.renderSeconds,
                     report.phaseSeconds.back().second);
    }
    return kExitOk;
}

// --json is honoured even when the command line around it is wrong, so look for it by hand.
bool wantsJson(const std::vector<std::string> &args)
{
    for (const std::string &word : args) {
        if (word == "--") {
            return false;
        }
        if (word == "--json") {
            return true;
        }
    }
    return false;
}

// Runs the tool and returns its exit status; failures are printed here, as every layer leaves
// them to its caller.
int runReported(const std::vector<std::string> &args, RunReport &report)
{
    try {
        return run(parseOptions(args), report);
    } catch (const CancelledError &) {
        report.message = "cancelled; no output written";
        report.exitStatus = kExitCancelled;
    } catch (const CliError &error) {
        report.message = error.what();
        report.exitStatus = error.exitStatus();
    } catch (const std::bad_alloc &) {
        report.message = "out of memory; no output written (give a smaller --memory, or sample "
                         "fewer frames with --every or --end)";
        report.exitStatus = kExitFailure;
    } catch (const std::exception &error) {
        report.message = error.what();
        report.exitStatus = kExitFailure;
    }
    std::fprintf(stderr, "framemeld: %s\n", printableText(report.message).c_str());
    return report.exitStatus;
}

} // namespace

// Read by LeakSanitizer when the tool is built with it; an unused function otherwise.
extern "C" const char *__lsan_default_suppressions()
{
    return framemeld::cli::kThirdPartyLeakSuppressions;
}
extern "C" const char *__lsan_default_options()
{
    return framemeld::cli::kLeakSanitizerOptions;
}

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    RunReport report;
    report.exitStatus = runReported(args, report);
    if (wantsJson(args) && !std::count(args.begin(), args.end(), "--help") &&
        !std::count(args.begin(), args.end(), "-h") &&
        !std::count(args.begin(), args.end(), "--version")) {
        if (std::fputs(report.json().c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "framemeld: cannot write the JSON report to standard output: %s\n",
                         std::strerror(errno));
            return report.exitStatus != kExitOk ? report.exitStatus : kExitFailure;
        }
    }
    return report.exitStatus;
}
