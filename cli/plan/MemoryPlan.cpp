#include "cli/plan/MemoryPlan.h"

#include <algorithm>

#include "cli/core/CliError.h"
#include "cli/plan/MemorySize.h"

namespace framemeld::cli {
namespace {

// The float render gathers this many rows of every sampled frame at once (render/SmartRender).
constexpr std::uint64_t kFloatBandRows = 10;
// What one 8- or 16-bit render thread holds per sampled frame: the frame's row, the sample and
// the consensus pass's working space for it, rounded up.
constexpr std::uint64_t kRowWorkerBytesPerFrame = 256;

std::uint64_t engineBytes(const StripPlanInput &input)
{
    const auto frames = static_cast<std::uint64_t>(std::max(1, input.frames));
    if (input.depth == runner::PixelDepth::Float32) {
        return frames * kFloatBandRows * static_cast<std::uint64_t>(input.width) *
               runner::bytesPerPixel(runner::PixelDepth::Float32);
    }
    return static_cast<std::uint64_t>(std::max(1, input.threads)) * frames *
           kRowWorkerBytesPerFrame;
}

// What a thread reading a run of rows holds: the rows it converts at a time (64, or a block if
// larger) and the library's buffers for the blocks around them, compressed and not.
std::uint64_t rowDecoderBytes(const StripPlanInput &input)
{
    const auto block = static_cast<std::uint64_t>(std::max(1, input.rowBlock));
    const auto rowBytes = static_cast<std::uint64_t>(std::max(0, input.width)) *
                          static_cast<std::uint64_t>(std::max(1, input.fileBytesPerPixel));
    const auto height = static_cast<std::uint64_t>(std::max(1, input.height));
    return (std::min(std::max<std::uint64_t>(64, block), height) + std::min(4 * block, height)) *
           rowBytes;
}

// The plan for footage read strip by strip from its files.
StripPlan planFromFiles(const StripPlanInput &input, StripPlan plan)
{
    const auto threads = static_cast<std::uint64_t>(std::max(1, input.threads));
    const std::uint64_t decoder = rowDecoderBytes(input);
    plan.fromFiles = true;
    plan.decoderBytes = decoder;
    plan.minimumBudget = plan.stripFixedBytes + plan.stripRowBytes + decoder;
    if (input.budget < plan.minimumBudget) {
        return plan;
    }
    plan.decodeThreads = static_cast<int>(std::clamp<std::uint64_t>(
        (input.budget - plan.stripFixedBytes - plan.stripRowBytes) / decoder, 1, threads));
    const std::uint64_t rows = (input.budget - plan.stripFixedBytes -
                                static_cast<std::uint64_t>(plan.decodeThreads) * decoder) /
                               plan.stripRowBytes;
    const auto height = static_cast<std::uint64_t>(std::max(1, input.height));
    const auto block = static_cast<std::uint64_t>(std::max(1, input.rowBlock));
    std::uint64_t strip = std::min(rows, height);
    if (strip >= block && strip < height) {
        strip -= strip % block;
    }
    plan.rowsPerStrip = static_cast<int>(std::max<std::uint64_t>(1, strip));
    return plan;
}

} // namespace

std::uint64_t worldBytes(int width, int rows, runner::PixelDepth depth)
{
    // As runner::World pads its rows: three pixels and two channels more than the width.
    const std::uint64_t rowBytes =
        (static_cast<std::uint64_t>(std::max(0, width)) + 3) * runner::bytesPerPixel(depth) +
        2 * runner::bytesPerChannel(depth);
    return rowBytes * static_cast<std::uint64_t>(std::max(0, rows));
}

StripPlan planStrips(const StripPlanInput &input)
{
    const auto frames = static_cast<std::uint64_t>(std::max(1, input.frames));
    const auto threads = static_cast<std::uint64_t>(std::max(1, input.threads));
    const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(0, input.width)) *
                                 static_cast<std::uint64_t>(std::max(0, input.height));
    const std::uint64_t plate = worldBytes(input.width, input.height, input.depth);
    const std::uint64_t row = worldBytes(input.width, 1, input.depth);
    const std::uint64_t engine = engineBytes(input);
    const std::uint64_t decoder =
        2 * pixels * static_cast<std::uint64_t>(std::max(1, input.fileBytesPerPixel));
    const std::uint64_t packedFrame = pixels * runner::bytesPerPixel(input.depth);

    StripPlan plan;
    plan.wholeClipBytes = frames * plate + std::max(threads * decoder, plate + engine);
    plan.stripFixedBytes = plate + engine;
    plan.stripRowBytes = (frames + 1) * row; // the strip's output row too
    plan.minimumBudget = std::max(packedFrame + decoder, plan.stripFixedBytes + plan.stripRowBytes);

    if (input.rowAccess) {
        plan = planFromFiles(input, plan);
    }
    if (input.budget >= plan.wholeClipBytes) {
        plan.wholeClip = true;
        plan.fromFiles = false;
        plan.rowsPerStrip = std::max(1, input.height);
        plan.decodeThreads = static_cast<int>(threads);
        return plan;
    }
    if (input.budget < plan.minimumBudget) {
        throw RunError("a memory budget of " + memoryText(input.budget) +
                       " cannot hold one row of " + "each of the " + std::to_string(frames) +
                       " sampled frames beside the " + std::to_string(input.width) + "x" +
                       std::to_string(input.height) +
                       (plan.fromFiles ? " plate, and read a few rows at a time; "
                                       : " plate, and decode one frame at a time; ") +
                       "it takes at least " + memoryText(plan.minimumBudget) +
                       " (--memory), or sample fewer frames (--every, --start, --end)");
    }
    if (plan.fromFiles) {
        return plan;
    }
    const std::uint64_t rows = (input.budget - plan.stripFixedBytes) / plan.stripRowBytes;
    plan.rowsPerStrip = static_cast<int>(
        std::min<std::uint64_t>(rows, static_cast<std::uint64_t>(std::max(1, input.height))));
    plan.decodeThreads = static_cast<int>(
        std::clamp<std::uint64_t>(input.budget / (packedFrame + decoder), 1, threads));
    return plan;
}

} // namespace framemeld::cli
