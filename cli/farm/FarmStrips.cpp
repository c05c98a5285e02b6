#include "cli/farm/FarmStrips.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/core/Clip.h"
#include "cli/farm/StripRecord.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/plate/OutputChecks.h"
#include "cli/plate/PlateWriter.h"
#include "cli/text/JsonText.h"

namespace framemeld::cli {
namespace {

struct Strip {
    std::string path;
    StripRecord record;
    Clip clip;
    FootageFormat format;
};

// The strip itself, never a sequence its name might look like.
Clip stillClip(const std::string &path)
{
    Clip clip;
    clip.frameFiles = {path};
    clip.frameCount = 1;
    return clip;
}

void checkSameShape(const Strip &first, const Strip &other)
{
    const StripRecord &a = first.record;
    const StripRecord &b = other.record;
    const std::string pair = other.path + " and " + first.path;
    if (a.plateWidth != b.plateWidth || a.plateHeight != b.plateHeight) {
        throw RunError(pair + " are strips of plates of different sizes (" +
                       std::to_string(b.plateWidth) + "x" + std::to_string(b.plateHeight) +
                       " and " + std::to_string(a.plateWidth) + "x" +
                       std::to_string(a.plateHeight) + ")");
    }
    if (first.format.channels != other.format.channels || a.withAlpha != b.withAlpha ||
        a.unassociatedAlpha != b.unassociatedAlpha) {
        throw RunError(pair + " differ in their channels");
    }
    if (a.settings.size() != b.settings.size()) {
        throw RunError(pair + " were rendered with different settings");
    }
    for (std::size_t i = 0; i < a.settings.size(); ++i) {
        if (a.settings[i] != b.settings[i]) {
            throw RunError(pair + " were rendered with different settings (" + a.settings[i].first +
                           ": " + b.settings[i].second + " and " + a.settings[i].second + ")");
        }
    }
}

std::string rowsText(int top, int bottom)
{
    return std::to_string(top) + ":" + std::to_string(bottom);
}

// Sorted by their first row, the strips must follow each other from the top to the bottom.
void checkTiling(const std::vector<Strip> &strips)
{
    int covered = 0;
    const Strip *above = nullptr;
    for (const Strip &strip : strips) {
        const StripRecord &record = strip.record;
        if (record.top < covered) {
            throw RunError(strip.path + " (rows " + rowsText(record.top, record.bottom) +
                           ") overlaps " + above->path + " (rows " +
                           rowsText(above->record.top, above->record.bottom) + ")");
        }
        if (record.top > covered) {
            throw RunError("no strip holds rows " + rowsText(covered, record.top) +
                           " of the plate");
        }
        covered = record.bottom;
        above = &strip;
    }
    const int height = strips.front().record.plateHeight;
    if (covered < height) {
        throw RunError("no strip holds rows " + rowsText(covered, height) + " of the plate");
    }
}

} // namespace

void checkStripRows(const RowSpan &rows, const FootageFormat &format, const MemoryPlan &memory)
{
    if (rows.bottom > format.height) {
        throw UsageError("--rows " + rowsText(rows.top, rows.bottom) +
                         " lies outside the frame, which has " + std::to_string(format.height) +
                         " rows (0:" + std::to_string(format.height) + ")");
    }
    if (rows.bottom - rows.top > memory.bandRows) {
        throw RunError("rows " + rowsText(rows.top, rows.bottom) +
                       " do not fit the memory budget in one render; split the plate into strips "
                       "of at most " +
                       std::to_string(memory.bandRows) + " rows");
    }
}

void recordStrip(const std::string &output, const std::string &input, const RowSpan &rows,
                 const SamplingPlan &plan, const FootageFormat &format, Depth depth,
                 const std::string &image)
{
    StripRecord record;
    record.plateWidth = format.width;
    record.plateHeight = format.height;
    record.top = rows.top;
    record.bottom = rows.bottom;
    record.bits = runner::bitsPerChannel(depth);
    record.withAlpha = format.hasAlpha;
    record.unassociatedAlpha = format.unassociatedAlpha;
    record.settings = {{"input", jsonString(input)},
                       {"start", jsonNumber(plan.start)},
                       {"end", jsonNumber(plan.end)},
                       {"every", jsonNumber(plan.every)},
                       {"framesSampled", jsonNumber(static_cast<double>(plan.frames.size()))},
                       {"divergence", jsonNumber(plan.divergence)},
                       {"ratingRange", jsonNumber(plan.ratingRange)},
                       {"depth", jsonNumber(record.bits)}};
    if (!image.empty()) {
        record.settings.emplace_back("image", jsonString(image));
    }
    try {
        writeStripRecord(output, record);
    } catch (...) {
        std::remove(output.c_str());
        throw;
    }
}

MergedPlate mergeStrips(const std::string &output, const std::vector<std::string> &paths,
                        const std::atomic<bool> *cancel)
{
    checkOutputPath(output);
    std::vector<Strip> strips;
    for (const std::string &path : paths) {
        Strip strip;
        strip.path = path;
        strip.record = readStripRecord(path);
        strip.clip = stillClip(path);
        strip.format = probeFootage(strip.clip);
        const int rows = strip.record.bottom - strip.record.top;
        if (strip.format.width != strip.record.plateWidth || strip.format.height != rows) {
            throw RunError(path + ": the image is " + std::to_string(strip.format.width) + "x" +
                           std::to_string(strip.format.height) + ", its record says " +
                           std::to_string(strip.record.plateWidth) + "x" + std::to_string(rows));
        }
        if (!strips.empty()) {
            checkSameShape(strips.front(), strip);
        }
        strips.push_back(std::move(strip));
    }
    std::stable_sort(strips.begin(), strips.end(),
                     [](const Strip &a, const Strip &b) { return a.record.top < b.record.top; });
    checkTiling(strips);

    const StripRecord &shape = strips.front().record;
    const Depth depth = *runner::depthFromBits(shape.bits);
    const auto rowBytes = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(shape.plateWidth) *
                                                      runner::bytesPerPixel(depth));
    std::vector<unsigned char> pixels(static_cast<std::size_t>(rowBytes) *
                                      static_cast<std::size_t>(shape.plateHeight));
    for (const Strip &strip : strips) {
        DecodeRequest request;
        request.clip = &strip.clip;
        request.format = strip.format;
        request.frames = {0};
        request.depth = depth;
        request.cancel = cancel;
        request.target = [&](std::size_t) {
            return FrameTarget{pixels.data() + rowBytes * strip.record.top, rowBytes};
        };
        decodeFrames(request);
    }

    PlateImage image;
    image.width = shape.plateWidth;
    image.height = shape.plateHeight;
    image.depth = depth;
    image.pixels = pixels.data();
    image.rowBytes = rowBytes;
    PlateFileOptions fileOptions;
    fileOptions.withAlpha = shape.withAlpha;
    fileOptions.unassociatedAlpha = shape.unassociatedAlpha;
    // Plates have three or four channels; one is a confidence image or a difference matte.
    fileOptions.singleChannel = strips.front().format.channels == 1;
    writePlate(output, image, fileOptions, cancel);
    return MergedPlate{image.width, image.height, shape.bits};
}

} // namespace framemeld::cli
