#include "cli/job/RunReport.h"

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
        JsonObject settings;
        settings.addNumber(kStartFrameLabel, plan->start)
            .addNumber(kEndFrameLabel, plan->end)
            .addNumber(kEveryFrameLabel, plan->every)
            .addNumber(kDivergenceLabel, plan->divergence)
            .addNumber(kRatingRangeLabel, plan->ratingRange);
        // Beside the sliders: whether Divergence was measured from the footage, and the noise it
        // was measured from, in levels of 255 (null until measured, and for a given Divergence).
        settings.add("divergence_auto", divergenceAuto ? "true" : "false")
            .add("temporal_noise", noiseSigma ? jsonNumber(*noiseSigma * 255.0) : "null")
            .add("rating_range_auto", ratingRangeAuto ? "true" : "false");
        report.add("settings", settings.text());
    } else {
        report.add("frames_sampled", "null").add("settings", "null");
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
    report.add("seconds", phases.text());
    return report.text() + "\n";
}

} // namespace framemeld::cli
