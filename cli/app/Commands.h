#pragma once
// The tool's commands, each the command line's options turned into a job and the job run with
// the terminal around it: the progress bar, Ctrl-C, the summary lines.

#include "cli/app/Options.h"
#include "cli/job/RunReport.h"

namespace framemeld::cli {

// `framemeld INPUT -o OUTPUT ...`
RunReport runRenderCommand(const Options &options);
// `framemeld merge -o PLATE STRIP...`
RunReport runMergeCommand(const Options &options);

} // namespace framemeld::cli
