#include "cli/plan/MemoryPlan.h"

#include <algorithm>

#include "cli/core/CliError.h"
#include "cli/plan/MemorySize.h"

namespace framemeld::cli {
namespace {

// What one 8- or 16-bit render thread holds per sampled frame: the frame's row, the sample and
// the consensus pass's working space for it, rounded up.
constexpr std::uint64_t kRowWorkerBytesPerFrame = 256;

std::uint64_t engineBytes(const MemoryPlanInput &input)
{
    const auto frames = static_cast<std::uint64_t>(std::max(1, input.frames));
    if (input.depth == runner::PixelDepth::Float32) {
        return frames * static_cast<std::uint64_t>(kFloatBandRows) *
               static_cast<std::uint64_t>(input.width) *
               runner::bytesPerPixel(runner::PixelDepth::Float32);
    }
    return static_cast<std::uint64_t>(std::max(1, input.threads)) * frames *
           kRowWorkerBytesPerFrame;
}

// What a thread reading a run of rows holds: the rows it converts at a time (64, or a block if
// larger) and the library's buffers for the blocks around them, compressed and not.
std::uint64_t rowDecoderBytes(const MemoryPlanInput &input)
{
    const auto block = static_cast<std::uint64_t>(std::max(1, input.rowBlock));
    const auto rowBytes = static_cast<std::uint64_t>(std::max(0, input.width)) *
                          static_cast<std::uint64_t>(std::max(1, input.fileBytesPerPixel));
    const auto height = static_cast<std::uint64_t>(std::max(1, input.height));
    return (std::min(std::max<std::uint64_t>(64, block), height) + std::min(4 * block, height)) *
           rowBytes;
}

// The plan for footage read band by band from its files.
MemoryPlan planFromFiles(const MemoryPlanInput &input, MemoryPlan plan)
{
    const auto threads = static_cast<std::uint64_t>(std::max(1, input.threads));
    const std::uint64_t decoder = rowDecoderBytes(input);
    plan.storage = FrameStorage::FileRows;
    plan.decoderBytes = decoder;
    plan.minimumBudget = plan.bandFixedBytes + plan.bandRowBytes + decoder;
    if (input.budget < plan.minimumBudget) {
        return plan;
    }
    plan.decodeThreads = static_cast<int>(std::clamp<std::uint64_t>(
        (input.budget - plan.bandFixedBytes - plan.bandRowBytes) / decoder, 1, threads));
    const std::uint64_t rows = (input.budget - plan.bandFixedBytes -
                                static_cast<std::uint64_t>(plan.decodeThreads) * decoder) /
                               plan.bandRowBytes;
    const auto height = static_cast<std::uint64_t>(std::max(1, input.height));
    const auto block = static_cast<std::uint64_t>(std::max(1, input.rowBlock));
    std::uint64_t band = std::min(rows, height);
    if (band >= block && band < height) {
        band -= band % block;
    }
    plan.bandRows = static_cast<int>(std::max<std::uint64_t>(1, band));
    return plan;
}

} // namespace

std::uint64_t worldBytes(int width, int rows, runner::PixelDepth depth)
{
    return static_cast<std::uint64_t>(runner::World::rowStrideFor(width, depth)) *
           static_cast<std::uint64_t>(std::max(0, rows));
}

MemoryPlan planMemory(const MemoryPlanInput &input)
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

    MemoryPlan plan;
    plan.wholeClipBytes = frames * plate + std::max(threads * decoder, plate + engine);
    plan.bandFixedBytes = plate + engine;
    plan.bandRowBytes = (frames + 1) * row; // the band's output row too
    plan.minimumBudget = std::max(packedFrame + decoder, plan.bandFixedBytes + plan.bandRowBytes);

    if (input.rowAccess) {
        plan = planFromFiles(input, plan);
    }
    if (input.budget >= plan.wholeClipBytes) {
        plan.storage =
            input.rowAccess && input.farmRows ? FrameStorage::FileRows : FrameStorage::Memory;
        plan.bandRows = std::max(1, input.height);
        plan.decodeThreads = static_cast<int>(threads);
        return plan;
    }
    if (input.budget < plan.minimumBudget) {
        throw RunError(
            "a memory budget of " + memoryText(input.budget) + " cannot hold one row of " +
            "each of the " + std::to_string(frames) + " sampled frames beside the " +
            std::to_string(input.width) + "x" + std::to_string(input.height) +
            (plan.storage == FrameStorage::FileRows ? " plate, and read a few rows at a time; "
                                                    : " plate, and decode one frame at a time; ") +
            "it takes at least " + memoryText(plan.minimumBudget) +
            " (--memory), or sample fewer frames (--every, --start, --end)");
    }
    if (plan.storage == FrameStorage::FileRows) {
        return plan;
    }
    plan.storage = FrameStorage::ScratchFile;
    const std::uint64_t rows = (input.budget - plan.bandFixedBytes) / plan.bandRowBytes;
    plan.bandRows = static_cast<int>(
        std::min<std::uint64_t>(rows, static_cast<std::uint64_t>(std::max(1, input.height))));
    plan.decodeThreads = static_cast<int>(
        std::clamp<std::uint64_t>(input.budget / (packedFrame + decoder), 1, threads));
    return plan;
}

} // namespace framemeld::cli
