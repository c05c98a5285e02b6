// A plate rendered in horizontal strips, each strip a render request of its own, as a host
// renders a large frame within a memory budget: every sampled frame is then needed only over the
// strip's rows. The plug-in works pixel by pixel, so the stitched strips are the whole-frame
// render, byte for byte.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "runner/Host.h"

namespace framemeld::runner {

// The strips of a layer of `width` x `height` pixels: full-width bands of `rowsPerStrip` rows
// from the top down, the last one holding the rows that are left. A layer without rows is one
// empty strip, so that its render still runs and can fail. Throws std::invalid_argument when
// rowsPerStrip is below 1 or a side is negative.
std::vector<PF_LRect> stripAreas(int width, int height, int rowsPerStrip);

// One strip's render, without its output (which went to the sink or the plate).
struct StripReport {
    PF_LRect area{}; // the strip in layer pixels
    CommandReply preRender;
    CommandReply smartRender;
    Accounting accounting;
    RenderRecord record;

    PF_Err err() const noexcept
    {
        return preRender.err != PF_Err_NONE ? preRender.err : smartRender.err;
    }
};

struct StripsOutcome {
    // Every strip rendered so far, in order; when the plate is not complete, the last one is the
    // strip that failed.
    std::vector<StripReport> strips;
    bool complete = false; // every strip rendered without error and drew into its output
    std::string problem;   // why not, naming the strip; empty when complete

    PF_Err err() const noexcept { return strips.empty() ? PF_Err_NONE : strips.back().err(); }
};

// Receives each strip's output world as the plug-in left it, top to bottom. The world lies
// within `area`; its origin_x / origin_y place it in the layer. The sink may keep the world.
using StripSink = std::function<void(const PF_LRect &area, World &output)>;

// Renders request.frame of `source` in strips of `rowsPerStrip` rows and hands each strip's
// output to `sink`. Stops at the first strip whose render fails or leaves its output unchecked
// out (a cancel shows as a failed strip). Throws std::invalid_argument for rowsPerStrip below 1
// or a request that names an area (the strips are the areas), and what Host::render throws.
StripsOutcome renderInStrips(Host &host, FrameSource &source, int rowsPerStrip,
                             const StripSink &sink, const RenderRequest &request = {});

// Writes a strip's output into the plate at its place: the rows of `area` whole, pixels the
// output does not cover transparent black, as a host composites them.
void stitchStrip(World &plate, const PF_LRect &area, World &output);

// The same, stitched into `plate`, which has the layer's size and the source's depth (else
// std::invalid_argument). Each rendered strip's rows are written whole: pixels the plug-in's
// output does not cover are transparent black, as a host composites them. Rows of strips not
// rendered keep what they held.
StripsOutcome renderPlateInStrips(Host &host, FrameSource &source, World &plate, int rowsPerStrip,
                                  const RenderRequest &request = {});

} // namespace framemeld::runner
