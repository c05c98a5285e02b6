#pragma once
// The command line of framemeld, parsed into values without judging them against the plug-in:
// slider ranges come from the loaded module and clip bounds from the footage, so those checks
// live in SamplingPlan.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/plan/RowSpan.h"

namespace framemeld::cli {

struct Options {
    std::string input;
    std::string output;
    std::optional<double> start;
    std::optional<double> end;
    std::optional<double> every;
    std::optional<double> divergence;
    bool divergenceAuto = false; // `--divergence auto`, also what no --divergence means
    std::optional<double> ratingRange;
    bool ratingRangeAuto = false;        // `--rating-range auto`; unset follows the Divergence
    std::optional<int> depth;            // 8, 16 or 32; unset: the footage's own depth
    int threads = 0;                     // 0: one per core
    std::optional<std::uint64_t> memory; // bytes; unset: a share of the memory available
    std::string plugin;                  // empty: the module built with this program
    std::optional<RowSpan> rows;         // unset: the whole plate
    bool merge = false;                  // `framemeld merge -o PLATE STRIP...`
    std::vector<std::string> strips;     // merge: the strips, in any order
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool json = false; // one JSON object on stdout at the end, failures included
};

// Parses the arguments after the program name. Throws UsageError naming the offending option.
// With --help or --version anywhere, only the other options' syntax is checked; INPUT and -o are
// not required. "--" ends the options: every word after it is an INPUT, even "-x".
Options parseOptions(const std::vector<std::string> &args);

// The plug-in's own defaults for the two sliders that --help shows; unset when the module could
// not be loaded, in which case the help says "the plug-in's default".
struct HelpDefaults {
    std::optional<double> divergence;
    std::optional<double> ratingRange;
};

std::string helpText(const std::string &program, const HelpDefaults &defaults);

} // namespace framemeld::cli
