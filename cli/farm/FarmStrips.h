#pragma once
// A plate split across a render farm: each node renders rows of it (--rows) to a strip with a
// record beside it (see farm/StripRecord.h); `framemeld merge` joins the strips into the plate
// that a single run writes, after checking from their records that they belong together.

#include <atomic>
#include <string>
#include <vector>

#include "cli/core/FootageFormat.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/SamplingPlan.h"

namespace framemeld::cli {

// Before any decoding: the rows must lie in the frame (UsageError), and one render request over
// them must fit the memory budget (RunError, saying the strip height that fits).
void checkStripRows(const RowSpan &rows, const FootageFormat &format, const MemoryPlan &memory);

// Writes the record of the strip of `rows` just written to `output` from `input`; when it cannot
// be written the strip is removed too, as a strip without its record cannot be merged. `image`
// names what a strip of something other than the plate holds ("confidence", a frame's difference
// matte), so that strips of different images are never merged. Throws RunError.
void recordStrip(const std::string &output, const std::string &input, const RowSpan &rows,
                 const SamplingPlan &plan, const FootageFormat &format, Depth depth,
                 const std::string &image = {});

struct MergedPlate {
    int width = 0;
    int height = 0;
    int bits = 8;
};

// Reads the strips (any format the tool reads) and writes the plate through the plate writer.
// Throws RunError, before anything is written, when a strip's record is missing or unreadable,
// when strips differ in plate size, depth, channels or settings, when a strip's image is not the
// size its record says, or when the strips overlap or leave rows uncovered; CancelledError when
// `cancel` is set.
MergedPlate mergeStrips(const std::string &output, const std::vector<std::string> &strips,
                        const std::atomic<bool> *cancel);

} // namespace framemeld::cli
