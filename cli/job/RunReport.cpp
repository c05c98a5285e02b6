#include "cli/job/RunReport.h"

#include <cmath>
#include <new>

#include "cli/core/CliError.h"
#include "cli/core/ToolVersion.h"
#include "cli/text/JsonText.h"

namespace framemeld::cli {
namespace {

std::string orNull(const std::string &text)
{
    return text.empty() ? "null" : jsonString(text);
}

} // namespace

double RunReport::seconds(const std::string &name) const
{
    for (const auto &[phase, spent] : phaseSeconds) {
        if (phase == name) {
            return spent;
        }
    }
    return 0.0;
}

void recordFailure(const std::exception_ptr &failure, RunReport &report)
{
    try {
        std::rethrow_exception(failure);
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
    } catch (...) {
        report.message = "an unexpected failure; no output written";
        report.exitStatus = kExitFailure;
    }
}

std::string RunReport::json() const
{
    JsonObject report;
    report.addNumber("exit_status", exitStatus)
        .add("message", orNull(message))
        .addString("framemeld_version", toolVersion())
        .add("input", orNull(input))
        .add("output", orNull(output))
        .add("plugin", orNull(plugin));

    if (numbering) {
        JsonObject clip;
        clip.addNumber("frames", numbering->frameCount)
            .addString("numbering", numbering->fileNumbers ? "file numbers" : "from 0")
            .addNumber("first", static_cast<double>(numbering->first))
            .addNumber("last", static_cast<double>(numbering->last()));
        if (rotation != 0) {
            clip.addNumber("rotation", rotation); // a movie that plays turned, as it plays
        }
        report.add("clip", clip.text());
    } else {
        report.add("clip", "null");
    }

    if (plan) {
        // The frames as the command line names them, and the settings as the plug-in's sliders
        // hold them (layer frames from 0).
        const long long first = numbering ? numbering->first : 0;
        std::vector<std::string> frames;
        for (int frame : plan->frames) {
            frames.push_back(jsonNumber(static_cast<double>(first + frame)));
        }
        report.add("frames_sampled", jsonArray(frames));
        // The file each of them was read from (null for a movie): what a pipeline checks a
        // frame list against.
        std::vector<std::string> files;
        for (const std::string &file : sampledFiles.value_or(std::vector<std::string>())) {
            files.push_back(jsonString(file));
        }
        report.add("files_sampled", sampledFiles ? jsonArray(files) : "null");
        JsonObject settings;
        settings.addNumber(kStartFrameLabel, plan->start)
            .addNumber(kEndFrameLabel, plan->end)
            .addNumber(kEveryFrameLabel, plan->every)
            .add(kDivergenceLabel, slidersSettled ? jsonNumber(plan->divergence) : "null")
            .add(kRatingRangeLabel, slidersSettled ? jsonNumber(plan->ratingRange) : "null");
        // Beside the sliders: whether Divergence was measured from the footage, and the noise it
        // was measured from, in the working space's units (null until measured, and for a given
        // Divergence).
        settings.add("divergence_auto", divergenceAuto ? "true" : "false")
            .add("temporal_noise",
                 noiseSigma ? jsonNumber(*noiseSigma * workingSpaceUnits.perFullScale) : "null")
            .add("rating_range_auto", ratingRangeAuto ? "true" : "false");
        // The values the consensus ran in, and what the noise and Divergence are said in.
        settings.add("working_space", orNull(workingSpace))
            .add("working_space_auto", workingSpaceAuto ? "true" : "false")
            .add("noise_units", orNull(workingSpace.empty() ? "" : workingSpaceUnits.name));
        if (!footageSpace.empty()) {
            settings.addString("footage_space", footageSpace);
        }
        report.add("settings", settings.text());
    } else {
        report.add("frames_sampled", "null").add("files_sampled", "null").add("settings", "null");
    }

    if (plateWidth > 0) {
        JsonObject plate;
        plate.addNumber("width", plateWidth)
            .addNumber("height", plateHeight)
            .addNumber("render_bits", renderBits);
        report.add("plate", plate.text());
    } else {
        report.add("plate", "null");
    }

    if (motion) {
        // The clip's numbering, as frames_sampled.
        const long long first = numbering ? numbering->first : 0;
        JsonObject measured;
        measured.add("measured", motion->measured ? "true" : "false");
        if (motion->measured) {
            const std::string align = motion->suggestedAlign();
            // Hundredths are all a reader weighs against the half-pixel threshold.
            measured
                .addNumber("largest_displacement",
                           std::round(motion->largestDisplacement * 100.0) / 100.0)
                .addNumber("threshold", kMotionThreshold)
                .add("suggested_align", align.empty() ? "null" : jsonString(align))
                .addNumber("frame", static_cast<double>(first + motion->largestFrame))
                .addNumber("reference", static_cast<double>(first + motion->reference))
                .addNumber("frames_measured", motion->framesMeasured)
                .addNumber("frames_without_texture", motion->framesWithoutTexture);
        } else {
            measured.addString("reason", motion->reason);
        }
        report.add("motion", measured.text());
    } else {
        report.add("motion", "null");
    }

    // Only for the runs that ask for them, so that every other run's report stays as it was.
    if (!holdout.empty()) {
        report.addString("holdout", holdout);
        report.add("holes", holes ? jsonNumber(static_cast<double>(*holes)) : "null");
        const double pixels = static_cast<double>(plateWidth) * plateHeight;
        report.add("hole_share",
                   holes && pixels > 0 ? jsonNumber(static_cast<double>(*holes) / pixels) : "null");
    }
    if (alignment) {
        report.add("alignment", alignment->json());
        if (holdout.empty()) {
            report.add("holes", holes ? jsonNumber(static_cast<double>(*holes)) : "null");
        }
    }
    if (!confidenceFile.empty()) {
        report.addString("confidence", confidenceFile);
    }
    if (!matteFiles.empty()) {
        std::vector<std::string> names;
        for (const std::string &name : matteFiles) {
            names.push_back(jsonString(name));
        }
        report.add("mattes", jsonArray(names));
    }

    JsonObject phases;
    for (const auto &[name, seconds] : phaseSeconds) {
        phases.addNumber(name, seconds);
    }
    // A run that failed before its first phase timed nothing: null, as for all it did not reach.
    const bool timedNothing = phaseSeconds.empty() && exitStatus != 0;
    report.add("seconds", timedNothing ? "null" : phases.text());
    return report.text() + "\n";
}

} // namespace framemeld::cli
