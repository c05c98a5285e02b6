#pragma once
// Every option of the command line in one table, one row per option, in the order --help shows
// them: its spellings, the name of its value, its help, what the shell completes it with, whether
// `merge` takes it, and how its value is stored. Parsing (the options registered with CLI11 and
// the shape checks around them), --help, the bash completion, the manual page (made from --help)
// and the README's option table (held to it by a test) all come from these rows, so an option is
// added in one place.

#include <optional>
#include <string>
#include <vector>

#include "cli/app/Options.h"

namespace framemeld::cli {

// What the shell offers for an option's value.
enum class ValueCompletion {
    Nothing, // a number or a size: no guess
    Words,   // the fixed words of OptionRow::words
    Modules, // plug-in module files (.so, .dylib, .aex) and folders
    Files,   // any file name
};

struct OptionRow {
    const char *shortName; // "-o", or null
    const char *longName;  // "--output"
    const char *valueName; // "FILE" as --help shows it; null for a flag
    // The help text, lines of it separated by '\n'. "{divergence-default}" and
    // "{rating-range-default}" stand for the plug-in's own defaults (see helpText).
    const char *help;
    ValueCompletion completion;
    const char *words; // ValueCompletion::Words: the values, space separated
    bool merge;        // `framemeld merge` takes it too
    // Stores the value (flags get "") into `options`, or throws UsageError naming the option as
    // `typed` (the spelling the user typed).
    void (*store)(Options &options, const std::string &value, const std::string &typed);

    bool takesValue() const { return valueName != nullptr; }
    // "-o,--output" as CLI11 takes the names.
    std::string cliNames() const;
};

const std::vector<OptionRow> &optionTable();

// The "Options:" lines of --help for `merge` (or the whole tool), with the defaults filled in.
std::string optionsHelp(const std::optional<ModuleDefaults> &defaults, bool mergeOnly);

// A bash completion script for `program`, from the table.
std::string bashCompletion(const std::string &program);

} // namespace framemeld::cli
