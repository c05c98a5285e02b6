#include "cli/app/RunSummary.h"

#include <string>

#include "cli/plan/MemorySize.h"
#include "cli/plate/PlateStorage.h"
#include "cli/plate/PlateWindows.h"
#include "cli/text/PrintableText.h"

namespace framemeld::cli {
namespace {

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

// What a hole looks like in the file: all four components 0, so black where the plate has no
// alpha to make it transparent.
const char *holeLook(const RunReport &report)
{
    return report.plateAlpha ? "transparent" : "black (the plate has no alpha)";
}

// Said only by the runs that held frames out or asked for mattes.
void printMattesSummary(const RunReport &report, std::FILE *stream)
{
    // Under a warp the holes are the matte's and the borders' at once: the alignment's line
    // counts them for both.
    const bool warped = report.alignment && !report.alignment->still;
    if (!report.holdout.empty() && report.holes && !warped) {
        const double pixels = static_cast<double>(report.plateWidth) * report.plateHeight;
        std::fprintf(stream,
                     "framemeld: holdout %s: %ld of the plate's pixels (%.2f %%) are holes, "
                     "%s: too few visible frames agreed there\n",
                     printableText(report.holdout).c_str(), *report.holes,
                     pixels > 0 ? 100.0 * static_cast<double>(*report.holes) / pixels : 0.0,
                     holeLook(report));
    }
    if (report.alignment) {
        const AlignmentReport &alignment = *report.alignment;
        if (alignment.still) {
            std::fprintf(stream,
                         "framemeld: --align %s: the frames lie within %.2f pixels of frame "
                         "%lld, a still clip: left unwarped\n",
                         alignment.model.c_str(), alignment.largestDisplacement,
                         alignment.reference);
        } else {
            const double pixels = static_cast<double>(report.plateWidth) * report.plateHeight;
            const long holes = report.holes.value_or(0);
            std::fprintf(stream,
                         "framemeld: --align %s: %zu frames warped into frame %lld (up to %.1f "
                         "pixels of motion); %ld of the plate's pixels (%.2f %%) are holes, "
                         "%s: too few frames %s%s\n",
                         alignment.model.c_str(), alignment.frames.size(), alignment.reference,
                         alignment.largestDisplacement, holes,
                         pixels > 0 ? 100.0 * static_cast<double>(holes) / pixels : 0.0,
                         holeLook(report),
                         report.holdout.empty()
                             ? "cover them"
                             : "show them once the borders and the holdout are held out, ",
                         report.holdout.empty() ? "" : printableText(report.holdout).c_str());
        }
    }
    if (!report.confidenceFile.empty()) {
        std::fprintf(stream, "framemeld: wrote the confidence image %s\n",
                     printableText(report.confidenceFile).c_str());
    }
    if (!report.matteFiles.empty()) {
        std::fprintf(stream, "framemeld: wrote %zu difference mattes, %s to %s\n",
                     report.matteFiles.size(), printableText(report.matteFiles.front()).c_str(),
                     printableText(report.matteFiles.back()).c_str());
    }
    for (const auto &[name, seconds] : report.phaseSeconds) {
        if (name == "examine") {
            std::fprintf(stream, "framemeld: holes, confidence and mattes measured in %.2f s\n",
                         seconds);
        }
    }
}

// Said only when the sampled frames move by more than the threshold: the plate is then softer
// than the footage, and the user may not know the camera moved.
void printMotionNote(const RunReport &report, std::FILE *stream)
{
    if (!report.motion || !report.motion->moves()) {
        return;
    }
    const MotionMeasurement &motion = *report.motion;
    const long long first = report.numbering ? report.numbering->first : 0;
    std::fprintf(stream,
                 "framemeld: the sampled frames move against each other, up to %.2f pixels "
                 "(frame %lld against frame %lld%s): the plate is soft where they do; try "
                 "--align %s\n",
                 motion.largestDisplacement, first + motion.largestFrame, first + motion.reference,
                 motion.tilesDisagree ? ", turning or zooming" : "",
                 motion.suggestedAlign().c_str());
}

} // namespace

// What the plate file holds that the render did not: values an integer type clipped, a lossy
// format's loss, overscan a format without a data window leaves out.
static void printPlateStorageNotes(const RunReport &report, std::FILE *stream)
{
    const FrameWindows &windows = report.windows;
    if (windows.overscan()) {
        const std::string data =
            std::to_string(windows.frameWidth) + "x" + std::to_string(windows.frameHeight) +
            " at " + std::to_string(windows.frameX) + "," + std::to_string(windows.frameY);
        const std::string display =
            std::to_string(windows.displayWidth) + "x" + std::to_string(windows.displayHeight) +
            " at " + std::to_string(windows.displayX) + "," + std::to_string(windows.displayY);
        if (overscanLeftOut(report.output, windows)) {
            std::fprintf(stream,
                         "framemeld: the footage's overscan is left out: the plate's format holds "
                         "no data window, so it is the display window (%s) alone; write EXR to "
                         "keep the data window (%s)\n",
                         display.c_str(), data.c_str());
        } else {
            std::fprintf(stream,
                         "framemeld: the plate keeps the footage's overscan: data window %s, "
                         "display window %s\n",
                         data.c_str(), display.c_str());
        }
    }
    const auto depth = runner::depthFromBits(report.renderBits);
    if (depth && clipsHdr(report.plateDataType, *depth)) {
        std::fprintf(stream,
                     "framemeld: the plate stores %s samples: values of the 32-bit render outside "
                     "0..1 are clipped (%lld samples were)\n",
                     report.plateDataType.c_str(), report.clippedSamples);
    }
    if (report.lossyPlate) {
        std::fprintf(stream, "framemeld: the plate's format is lossy: the file is not the plate "
                             "as rendered\n");
    }
}

void printRenderSummary(const RunReport &report, std::FILE *stream)
{
    const SamplingPlan &plan = *report.plan;
    const FrameNumbering &numbering = *report.numbering;
    const MemoryPlan &memory = *report.memory;
    std::fprintf(stream,
                 "framemeld: wrote %s (%dx%d, %d-bit render) from %zu of %d frames (%s, %lld to "
                 "%lld; %s)\n",
                 printableText(report.output).c_str(), report.plateWidth, report.plateHeight,
                 report.renderBits, plan.frames.size(), numbering.frameCount,
                 everyText(plan.every).c_str(), numbering.first + plan.start,
                 numbering.first + plan.end, numbering.describe().c_str());
    if (report.rotation != 0) {
        std::fprintf(stream,
                     "framemeld: the movie's pictures turned %d degrees clockwise, upright as it "
                     "plays (its display matrix)\n",
                     report.rotation);
    }
    printPlateStorageNotes(report, stream);
    if (memory.storage == FrameStorage::FileRows && report.rows) {
        std::fprintf(stream, "framemeld: rows %d:%d read from the files\n", report.rows->top,
                     report.rows->bottom);
    } else if (memory.storage == FrameStorage::FileRows) {
        std::fprintf(stream,
                     "framemeld: within a budget of %s: read from the files in strips of %d "
                     "rows\n",
                     memoryText(report.memoryBudget).c_str(), memory.bandRows);
    } else if (memory.storage == FrameStorage::ScratchFile) {
        std::fprintf(stream,
                     "framemeld: within a budget of %s: %s of frames in a scratch file, rendered "
                     "in strips of %d rows\n",
                     memoryText(report.memoryBudget).c_str(),
                     memoryText(report.scratchBytes).c_str(), memory.bandRows);
    }
    // Both sliders in the host's own units, so that the effect set to them gives this plate.
    // The Divergence is in the working space's values, so the space is named with it; the noise
    // is said in the space's units.
    const WorkingSpaceUnits &units = report.workingSpaceUnits;
    if (report.divergenceAuto) {
        std::fprintf(stream, "framemeld: divergence %g (auto: temporal noise %.3g %s)",
                     plan.divergence, report.noiseSigma.value_or(0.0) * units.perFullScale,
                     units.name.c_str());
    } else {
        std::fprintf(stream, "framemeld: divergence %g", plan.divergence);
    }
    std::string space = printableText(report.workingSpace);
    if (report.workingSpaceAuto) {
        space += " (auto)";
    } else if (!report.footageSpace.empty()) {
        space += " from " + printableText(report.footageSpace);
    }
    std::fprintf(stream, ", rating range %g%s, working space %s\n", plan.ratingRange,
                 report.ratingRangeAuto ? " (auto)" : "", space.c_str());
    // Frames per second read is the figure to weigh against the footage's own frame rate.
    const double readSeconds = report.seconds("read");
    const double framesPerSecond =
        readSeconds > 0 ? static_cast<double>(plan.frames.size()) / readSeconds : 0.0;
    std::fprintf(stream,
                 "framemeld: read %.2f s (%.1f frames/s), estimate %.3f s, render %.2f s, write "
                 "%.2f s\n",
                 readSeconds, framesPerSecond, report.seconds("estimate"), report.seconds("render"),
                 report.seconds("write"));
    printMotionNote(report, stream);
    printMattesSummary(report, stream);
}

void printMergeSummary(const RunReport &report, std::FILE *stream)
{
    std::fprintf(stream, "framemeld: merged %d strips into %s (%dx%d, %d-bit render)\n",
                 report.stripsMerged, printableText(report.output).c_str(), report.plateWidth,
                 report.plateHeight, report.renderBits);
    printPlateStorageNotes(report, stream);
}

void printAlignSummary(const RunReport &report, std::FILE *stream)
{
    if (!report.alignment) {
        return;
    }
    const AlignmentReport &alignment = *report.alignment;
    std::fprintf(stream,
                 "framemeld: wrote %s: %zu frames registered to frame %lld (%s, %d pass%s), up "
                 "to %.2f pixels of motion%s\n",
                 printableText(report.output).c_str(), alignment.frames.size(), alignment.reference,
                 alignment.model.c_str(), alignment.passes, alignment.passes == 1 ? "" : "es",
                 alignment.largestDisplacement,
                 alignment.still ? ": a still clip, which a render leaves unwarped" : "");
    for (const auto &[name, seconds] : report.phaseSeconds) {
        if (name == "align") {
            std::fprintf(stream, "framemeld: registered in %.2f s\n", seconds);
        }
    }
}

} // namespace framemeld::cli
