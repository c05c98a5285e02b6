#pragma once
// The text a plate carries about how it was made (see PlateMetadata.h, kProvenanceAttribute):
// enough to make it again, in the host or with the tool, and the same for a single run and the
// merge of a farm's strips.

#include <string>

#include "cli/core/FootageFormat.h"
#include "cli/plan/SamplingPlan.h"

namespace framemeld::cli {

// "framemeld 2.2.0; input shot.####.exr; Start Frame 0, End Frame 99, Every n-th Frame 4,
// Divergence 13, Rating Range 2; 32-bit render": the sliders as the plug-in's own values.
std::string plateProvenance(const std::string &input, const SamplingPlan &plan, Depth depth);

} // namespace framemeld::cli
