// framemeld: footage in, clean plate out, through the host runner and the Framemeld module.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "cli/AutoDivergence.h"
#include "cli/CancelSignal.h"
#include "cli/CliError.h"
#include "cli/Options.h"
#include "cli/PluginLocation.h"
#include "cli/PluginSession.h"
#include "cli/ProgressBar.h"
#include "cli/SamplingPlan.h"
#include "cli/ThirdPartyLeaks.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/FootageFrameSource.h"
#include "cli/plate/PlateWriter.h"

using namespace framemeld::cli;
namespace runner = framemeld::runner;

namespace {

// --help shows the plug-in's own slider defaults when the module is at hand.
HelpDefaults helpDefaults(const Options &options)
{
    HelpDefaults defaults;
    try {
        PluginSession session(locatePlugin(options.plugin), 1);
        const SliderRanges ranges = session.sliderRanges();
        defaults.divergence = ranges.divergence.defaultValue;
        defaults.ratingRange = ranges.ratingRange.defaultValue;
    } catch (const std::exception &) {
        // The help is still worth showing without them.
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

int run(const std::vector<std::string> &args)
{
    const Options options = parseOptions(args);
    if (options.help) {
        std::fputs(helpText("framemeld", helpDefaults(options)).c_str(), stdout);
        return kExitOk;
    }

    // Cheap checks first, so that a typo does not cost a long decode.
    checkOutputPath(options.output);
    PluginSession session(locatePlugin(options.plugin), options.threads);
    const SliderRanges ranges = session.sliderRanges();
    checkSliderRanges(options, ranges);

    const Clip clip = discoverClip(options.input);
    const FootageFormat format = probeFootage(clip);
    SamplingPlan plan = planSampling(options, ranges, clip.frameCount);
    const bool autoDivergence = options.divergenceAuto || !options.divergence;
    const Depth depth =
        options.depth ? *runner::depthFromBits(*options.depth) : format.naturalDepth;

    CancelSignal onCtrlC(session.cancelFlag());
    ProgressBar bar(stderr, !options.quiet && isTerminal(stderr));

    // Where the time goes, for users weighing --every, --threads or another footage format.
    auto phaseStart = std::chrono::steady_clock::now();
    FootageFrameSource source(clip, format, depth, threadCount(options), &session.cancelFlag());
    bar.startPhase("Reading frames", static_cast<long long>(plan.frames.size()));
    source.decode(plan.frames,
                  [&bar](long long done, long long total) { bar.update(done, total); });

    const double readSeconds = secondsSince(phaseStart);

    phaseStart = std::chrono::steady_clock::now();
    NoiseEstimate noise;
    if (autoDivergence) {
        noise = estimateTemporalNoise(decodedFrames(source, plan.frames));
        plan.divergence = std::clamp(divergenceForNoise(noise.sigma, depth),
                                     ranges.divergence.validMin, ranges.divergence.validMax);
    }
    const double estimateSeconds = secondsSince(phaseStart);

    phaseStart = std::chrono::steady_clock::now();
    session.apply(plan);
    bar.startPhase("Rendering", 1);
    const runner::World plate =
        session.render(source, [&bar](long done, long total) { bar.update(done, total); });
    bar.update(1, 1);
    bar.finish();
    const double renderSeconds = secondsSince(phaseStart);

    phaseStart = std::chrono::steady_clock::now();
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
    const double writeSeconds = secondsSince(phaseStart);

    if (!options.quiet) {
        std::fprintf(
            stderr,
            "framemeld: wrote %s (%dx%d, %d-bit render) from %zu of %d frames (%s, %d to %d)\n",
            options.output.c_str(), image.width, image.height, runner::bitsPerChannel(depth),
            plan.frames.size(), clip.frameCount, everyText(plan.every).c_str(), plan.start,
            plan.end);
        // The Divergence in the host's own units, so that the slider set to it gives this plate.
        if (autoDivergence) {
            std::fprintf(stderr,
                         "framemeld: divergence %g (auto: temporal noise %.3g levels of 255)\n",
                         plan.divergence, noise.sigma * 255.0);
        } else {
            std::fprintf(stderr, "framemeld: divergence %g\n", plan.divergence);
        }
        std::fprintf(stderr,
                     "framemeld: read %.2f s, estimate %.3f s, render %.2f s, write %.2f s\n",
                     readSeconds, estimateSeconds, renderSeconds, writeSeconds);
    }
    return kExitOk;
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
    try {
        return run(args);
    } catch (const CancelledError &) {
        std::fputs("framemeld: cancelled; no output written\n", stderr);
        return kExitCancelled;
    } catch (const CliError &error) {
        std::fprintf(stderr, "framemeld: %s\n", error.what());
        return error.exitStatus();
    } catch (const std::bad_alloc &) {
        std::fputs("framemeld: out of memory (sample fewer frames with --every or --end)\n",
                   stderr);
        return kExitFailure;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "framemeld: %s\n", error.what());
        return kExitFailure;
    }
}
