#pragma once
// The tool's commands, each the command line's options turned into a job and the job run with
// the terminal around it: the progress bar or lines, the summary lines. `cancel` is the flag
// the signals set (see CancelSignal.h), routed from the program's start.

#include <atomic>

#include "cli/app/Options.h"
#include "cli/job/RunReport.h"

namespace framemeld::cli {

// `framemeld INPUT -o OUTPUT ...`
RunReport runRenderCommand(const Options &options, std::atomic<bool> &cancel);
// `framemeld align INPUT -o MOTION.json ...`
RunReport runAlignCommand(const Options &options, std::atomic<bool> &cancel);
// `framemeld merge -o PLATE STRIP...`
RunReport runMergeCommand(const Options &options, std::atomic<bool> &cancel);

} // namespace framemeld::cli
