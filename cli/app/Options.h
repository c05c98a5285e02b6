#pragma once
// The command line of framemeld, parsed into values without judging them against the plug-in:
// slider ranges come from the loaded module and clip bounds from the footage, so those checks
// live in the sampling plan. Each option is a row of the option table (OptionTable.h).

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cli/formats/AlignModule.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/Sliders.h"
#include "cli/plan/WorkingSpaceChoice.h"
#include "cli/plugin/ModuleDefaultsProbe.h"

namespace framemeld::cli {

struct Options {
    std::string input;
    std::string output;
    std::optional<double> start;
    std::optional<double> end;
    std::optional<double> every;
    std::optional<std::string> frames;   // a frame list, "1001-1100x4", in place of the three
    SliderChoice divergence;             // a number, `auto`, or unset (see plan/AutoSettings.h)
    SliderChoice ratingRange;            // the same
    std::optional<int> depth;            // 8, 16 or 32; unset: the footage's own depth
    WorkingSpaceRequest workingSpace;    // auto unless given
    std::string ocioConfig;              // empty: $OCIO
    int threads = 0;                     // 0: one per core
    std::optional<std::uint64_t> memory; // bytes; unset: a share of the memory available
    std::string plugin;                  // empty: the module built with this program
    std::optional<RowSpan> rows;         // unset: the whole plate
    std::string dataType;                // --data-type; empty: the footage's type (PlateStorage.h)
    std::string compression;             // --compression; empty: the format's default
    std::string holdout;                 // --holdout MATTE; empty: none
    bool holdoutInvert = false;          // --holdout-invert
    std::string confidence;              // --confidence FILE; empty: none
    std::string mattes;                  // --mattes PATTERN; empty: none
    std::optional<align::MotionModel> align; // --align MODEL; unset: none (align: similarity)
    std::optional<long long> reference;      // --reference N; unset: the middle one
    std::string motion;                      // --motion FILE; empty: none
    bool merge = false;                      // `framemeld merge -o PLATE STRIP...`
    std::vector<std::string> strips;         // merge: the strips, in any order
    bool alignCommand = false;               // `framemeld align INPUT -o MOTION.json`
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool json = false; // one JSON object on stdout at the end, failures included
    // --progress: a line per step on stderr instead of the bar
    bool progressLines = false;
};

// Parses the arguments after the program name. Throws UsageError naming the offending option.
// With --help or --version anywhere, only the other options' syntax is checked; INPUT and -o are
// not required. "--" ends the options: every word after it is an INPUT, even "-x".
Options parseOptions(const std::vector<std::string> &args);

// The command line as far as it could be read: the options, and what was wrong with it (null when
// nothing). The flags that shape the run's own output (--json, --quiet, --help, --version) are
// read even from a command line that is wrong, so that a pipeline asking for JSON gets it for a
// mistyped command too.
struct CommandLine {
    Options options;
    std::exception_ptr failure;
};
CommandLine readCommandLine(const std::vector<std::string> &args);

// The whole --help text. `defaults` are the plug-in's own slider defaults, when the module gave
// them; without them the help says "the plug-in's default".
std::string helpText(const std::string &program, const std::optional<ModuleDefaults> &defaults);

} // namespace framemeld::cli
