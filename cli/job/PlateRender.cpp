#include "cli/job/PlateRender.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/footage/HoldoutStage.h"

namespace framemeld::cli {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// How the progress of a run shows, by where its frames are held. Frames in memory are read
// first, as a phase of their own; a scratch file is filled in the first half of one phase that
// the bands finish; frames read band by band are read as the bands render.
struct ProgressShape {
    const char *readingLabel;   // the phase that reads the frames up front; none: no such phase
    double readingShare;        // of that phase, the share reading takes
    const char *renderingLabel; // the phase that renders; none: it goes on in the reading phase
};

ProgressShape progressShape(FrameStorage storage)
{
    switch (storage) {
    case FrameStorage::Memory: return {"Reading frames", 1.0, "Rendering"};
    case FrameStorage::ScratchFile: return {"Reading and rendering", 0.5, nullptr};
    case FrameStorage::FileRows: return {nullptr, 0.0, "Reading and rendering"};
    }
    return {nullptr, 0.0, "Rendering"};
}

double share(long long done, long long total)
{
    return total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
}

// The measured sliders, each clamped to what its slider accepts.
void chooseAutomaticSliders(const PlateRenderInput &input, ClipFrameSource &frames,
                            RenderedPlate &rendered)
{
    if (input.automatic.divergence) {
        rendered.noise = estimateTemporalNoise(frames, rendered.plan.frames, input.threads);
        rendered.plan.divergence =
            std::clamp(automaticDivergence(rendered.noise.sigma, frames.depth()),
                       input.ranges.divergence.validMin, input.ranges.divergence.validMax);
    }
    if (input.automatic.ratingRange) {
        rendered.plan.ratingRange =
            std::clamp(ratingRangeFor(rendered.plan.frames.size()),
                       input.ranges.ratingRange.validMin, input.ranges.ratingRange.validMax);
    }
}

// The codes depend on the Divergence, so they are made once it is known, from frames the
// measurement saw as decoded; a run the codes cannot hold apart stops here, before the render.
void holdOut(const PlateRenderInput &input, ClipFrameSource &frames, RenderedPlate &rendered)
{
    mattes::HoldoutCodes codes(frames.depth(), rendered.plan.divergence);
    if (const auto problem =
            codes.capacityProblem(static_cast<long>(rendered.plan.frames.size()))) {
        // Mattes without a file are the warp's: its uncovered pixels are what is held out.
        const std::string holdout = "--holdout";
        if (input.holdout->path().empty() && problem->compare(0, holdout.size(), holdout) == 0) {
            throw UsageError(input.warpedBy +
                             " (pixels a warped frame does not cover are held out)" +
                             problem->substr(holdout.size()));
        }
        throw UsageError(*problem);
    }
    frames.addStage(StageOrder::Holdout, std::make_shared<HoldoutStage>(input.holdout, codes));
    rendered.holdoutCodes = codes;
}

// Out of the working space. A hole (all four components 0) stays one: the decode leaves alpha
// and would give its colour the value 0 stands for, an almost-black that was never footage. With
// a holdout every pixel that is all 0 is kept so; without one the plate is decoded as it is.
void decodeKeepingHoles(const WorkingSpace &space, runner::World &plate, bool holdout)
{
    if (!holdout || !space.changesPixels()) {
        space.decode(plate);
        return;
    }
    const std::size_t pixelBytes = runner::bytesPerPixel(plate.depth());
    const auto width = static_cast<std::size_t>(plate.width());
    std::vector<bool> hole(width * static_cast<std::size_t>(plate.height()));
    const std::vector<unsigned char> zero(pixelBytes, 0);
    for (int y = 0; y < plate.height(); ++y) {
        const unsigned char *row = plate.row(y);
        for (std::size_t x = 0; x < width; ++x) {
            hole[static_cast<std::size_t>(y) * width + x] =
                std::memcmp(row + x * pixelBytes, zero.data(), pixelBytes) == 0;
        }
    }
    space.decode(plate);
    for (int y = 0; y < plate.height(); ++y) {
        unsigned char *row = plate.row(y);
        for (std::size_t x = 0; x < width; ++x) {
            if (hole[static_cast<std::size_t>(y) * width + x]) {
                std::memset(row + x * pixelBytes, 0, pixelBytes);
            }
        }
    }
}

} // namespace

void readFrames(ClipFrameSource &frames, const PlateRenderInput &input, JobProgress &progress)
{
    const ProgressShape shape = progressShape(input.memory.storage);
    const auto sampled = static_cast<long long>(
        std::set<int>(input.plan.frames.begin(), input.plan.frames.end()).size());
    progress.framesRead(0, sampled);
    if (shape.readingLabel != nullptr) {
        progress.startPhase(shape.readingLabel);
    }
    frames.prepare(input.plan.frames, [&](long long done, long long total) {
        progress.framesRead(done, total);
        progress.advance(share(done, total) * shape.readingShare);
    });
}

RenderedPlate renderPlate(PluginSession &session, ClipFrameSource &frames,
                          const PlateRenderInput &input, JobProgress &progress)
{
    const ProgressShape shape = progressShape(input.memory.storage);
    RenderedPlate rendered;
    rendered.plan = input.plan;

    const auto sampled = static_cast<long long>(
        std::set<int>(rendered.plan.frames.begin(), rendered.plan.frames.end()).size());
    if (!input.framesRead) {
        readFrames(frames, input, progress);
    }
    const double readUpFront = frames.readSeconds();

    // The estimate's own reading is its time, whatever holds the frames.
    const auto estimateStart = std::chrono::steady_clock::now();
    chooseAutomaticSliders(input, frames, rendered);
    rendered.estimateSeconds = secondsSince(estimateStart);
    if (input.holdout) {
        holdOut(input, frames, rendered);
    }
    const double readBeforeRender = frames.readSeconds();

    const auto renderStart = std::chrono::steady_clock::now();
    session.apply(rendered.plan);
    if (shape.renderingLabel != nullptr) {
        progress.startPhase(shape.renderingLabel);
    }
    const double renderFrom = shape.renderingLabel != nullptr ? 0.0 : shape.readingShare;
    const bool readAsRendered = input.memory.storage == FrameStorage::FileRows;
    const auto rendering = [&progress, renderFrom, readAsRendered, sampled](double done) {
        if (readAsRendered) {
            progress.framesRead(
                std::llround(std::clamp(done, 0.0, 1.0) * static_cast<double>(sampled)), sampled);
        }
        progress.advance(renderFrom + done * (1.0 - renderFrom));
    };
    if (input.rows) {
        rendered.plate = session.renderRows(
            frames, input.rows->top, input.rows->bottom,
            [&rendering](long done, long total) { rendering(share(done, total)); });
    } else if (input.memory.storage == FrameStorage::Memory) {
        rendered.plate = session.render(
            frames, [&rendering](long done, long total) { rendering(share(done, total)); });
    } else {
        rendered.plate = session.renderInBands(frames, input.memory.bandRows, rendering);
    }
    // The examination's own reading is its time, not the render's nor the read phase's.
    const double readBeforeExamining = frames.readSeconds();
    double examineSeconds = 0;
    if (input.examine) {
        const auto examineStart = std::chrono::steady_clock::now();
        input.examine(rendered.plate, rendered);
        examineSeconds = secondsSince(examineStart);
    }
    if (input.workingSpace != nullptr) {
        decodeKeepingHoles(*input.workingSpace, rendered.plate, input.holdout != nullptr);
    }
    progress.advance(1.0);
    progress.finish();
    // Reading that the bands did as they went is reading, not rendering.
    const double readDuringRender = readBeforeExamining - readBeforeRender;
    rendered.readSeconds = readUpFront + readDuringRender;
    rendered.renderSeconds = secondsSince(renderStart) - readDuringRender - examineSeconds;
    return rendered;
}

} // namespace framemeld::cli
