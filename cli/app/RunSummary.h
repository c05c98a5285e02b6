#pragma once
// The lines a finished run leaves on stderr for the person who started it: what was written from
// which frames, how the run fitted its memory, the sliders in the host's own units (so the effect
// set to them gives this plate), and where the time went.

#include <cstdio>

#include "cli/job/RunReport.h"

namespace framemeld::cli {

void printRenderSummary(const RunReport &report, std::FILE *stream);
void printMergeSummary(const RunReport &report, std::FILE *stream);
// `framemeld align`: the frames registered, to which, and how far they move.
void printAlignSummary(const RunReport &report, std::FILE *stream);

} // namespace framemeld::cli
