#include "cli/app/Options.h"

#include <algorithm>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/app/OptionTable.h"
#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

const OptionRow *rowNamed(const std::string &name)
{
    for (const OptionRow &row : optionTable()) {
        if (name == row.longName || (row.shortName && name == row.shortName)) {
            return &row;
        }
    }
    return nullptr;
}

// The spelling of a two-named option that the user typed last, for messages about its value.
std::string spelledAs(const std::vector<std::string> &args, const OptionRow &row)
{
    std::string typed = row.longName;
    if (row.shortName == nullptr) {
        return typed;
    }
    for (const std::string &word : args) {
        if (word == "--") {
            break;
        }
        if (word == row.shortName) {
            typed = row.shortName;
        } else if (word.rfind(row.longName, 0) == 0) {
            typed = row.longName;
        }
    }
    return typed;
}

// Checks what CLI11 takes without a word: "--quiet=yes" would set the flag from the value, and a
// value option as the last word (or followed by another option) would be named by its long name.
void checkOptionShapes(const std::vector<std::string> &args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (word == "--") {
            return;
        }
        const auto equals = word.find('=');
        if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
            const OptionRow *row = rowNamed(word.substr(0, equals));
            if (row != nullptr && !row->takesValue()) {
                throw UsageError(word.substr(0, equals) + " takes no value");
            }
        }
        const OptionRow *row = rowNamed(word);
        if (row != nullptr && row->takesValue()) {
            const bool last = i + 1 >= args.size();
            const bool nextIsOption = !last && (rowNamed(args[i + 1]) || args[i + 1] == "--");
            if (last || nextIsOption) {
                throw UsageError(word + " needs a value");
            }
            ++i;
        }
    }
}

// Registers the rows on `app`, values as text: each row converts its own, so every message names
// the option the way the documentation does, whatever CLI11 would have said.
// Only the rows `takes` accepts are registered.
void registerRows(CLI::App &app, bool (*takes)(const OptionRow &),
                  std::vector<std::optional<std::string>> &values, std::vector<bool> &flags)
{
    const std::vector<OptionRow> &rows = optionTable();
    values.assign(rows.size(), std::nullopt);
    flags.assign(rows.size(), false);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!takes(rows[i])) {
            continue;
        }
        if (rows[i].takesValue()) {
            app.add_option(rows[i].cliNames(), values[i]);
        } else {
            // A vector<bool> element is no bool&; CLI11 stores through a callback instead.
            app.add_flag_callback(rows[i].cliNames(), [&flags, i] { flags[i] = true; });
        }
    }
}

void storeRows(const std::vector<std::string> &args,
               const std::vector<std::optional<std::string>> &values,
               const std::vector<bool> &flags, Options &options)
{
    const std::vector<OptionRow> &rows = optionTable();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (values[i]) {
            rows[i].store(options, *values[i], spelledAs(args, rows[i]));
        } else if (flags[i]) {
            rows[i].store(options, std::string(), rows[i].longName);
        }
    }
}

// framemeld merge -o PLATE STRIP...: a subcommand of its own, as it renders nothing.
Options parseMergeOptions(const std::vector<std::string> &args)
{
    CLI::App app("framemeld");
    app.set_help_flag();
    CLI::App *merge = app.add_subcommand("merge");
    merge->set_help_flag();
    Options options;
    options.merge = true;
    std::vector<std::optional<std::string>> values;
    std::vector<bool> flags;
    registerRows(
        *merge, [](const OptionRow &row) { return row.merge; }, values, flags);
    merge->add_option("STRIP", options.strips);
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError &error) {
        throw UsageError(error.what() + std::string(" (see merge --help)"));
    }
    // An empty -o is merge's own "no output" below.
    const std::optional<std::string> output = values.front();
    values.front().reset();
    storeRows(args, values, flags, options);
    if (options.help) {
        return options;
    }
    if (!output || output->empty()) {
        throw UsageError("merge: no output file given: use -o PLATE");
    }
    options.output = *output;
    if (options.strips.empty()) {
        throw UsageError("merge: no strips given");
    }
    return options;
}

// framemeld align INPUT -o MOTION.json: registers the frames a render would sample and renders
// nothing, so it takes the options that choose the frames and the registration only.
bool alignTakes(const OptionRow &row)
{
    static const char *const kTaken[] = {
        "--output", "--start", "--end",       "--every", "--frames",   "--depth", "--threads",
        "--plugin", "--align", "--reference", "--quiet", "--progress", "--json",  "--help"};
    for (const char *name : kTaken) {
        if (std::string(name) == row.longName) {
            return true;
        }
    }
    return false;
}

Options parseAlignOptions(const std::vector<std::string> &args)
{
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    checkOptionShapes(rest);
    CLI::App app("framemeld align");
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Options options;
    options.alignCommand = true;
    std::vector<std::optional<std::string>> values;
    std::vector<bool> flags;
    registerRows(app, alignTakes, values, flags);
    std::vector<std::string> positional;
    app.add_option("INPUT", positional);
    try {
        app.parse(std::vector<std::string>(rest.rbegin(), rest.rend()));
    } catch (const CLI::ParseError &error) {
        throw UsageError(error.what() + std::string(" (see --help)"));
    }
    for (const std::string &extra : app.remaining()) {
        if (extra.size() > 1 && extra[0] == '-' && extra != "--") {
            const std::string name = extra.substr(0, extra.find('='));
            throw UsageError(rowNamed(name) != nullptr
                                 ? "align: " + name + " is an option of the render, not of align"
                                 : "unknown option " + name + " (see --help)");
        }
    }
    storeRows(rest, values, flags, options);
    if (options.help) {
        return options;
    }
    if (positional.empty()) {
        throw UsageError("align: no INPUT given (see --help)");
    }
    if (positional.size() > 1) {
        throw UsageError("align: one INPUT expected, got \"" + positional[0] + "\" and \"" +
                         positional[1] + "\" (is a pattern expanded by the shell? quote it)");
    }
    options.input = positional[0];
    if (options.output.empty()) {
        throw UsageError("align: no motion file given: use -o MOTION.json");
    }
    if (!options.align) {
        options.align = align::MotionModel::Similarity;
    }
    return options;
}

// The flags that shape the run's own output, from the words before "--", whatever else is wrong.
void readOutputFlags(const std::vector<std::string> &args, Options &options)
{
    for (const std::string &word : args) {
        if (word == "--") {
            return;
        }
        const OptionRow *row = rowNamed(word);
        if (row != nullptr && !row->takesValue()) {
            row->store(options, std::string(), row->longName);
        }
    }
}

} // namespace

Options parseOptions(const std::vector<std::string> &args)
{
    if (!args.empty() && args[0] == "merge") {
        return parseMergeOptions(args);
    }
    if (!args.empty() && args[0] == "align") {
        return parseAlignOptions(args);
    }
    checkOptionShapes(args);

    CLI::App app("framemeld");
    app.set_help_flag();
    app.allow_extras();
    // An option given twice: the last one counts, as with most tools.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Options options;
    std::vector<std::optional<std::string>> values;
    std::vector<bool> flags;
    registerRows(
        app, [](const OptionRow &) { return true; }, values, flags);
    std::vector<std::string> positional;
    app.add_option("INPUT", positional);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError &error) {
        throw UsageError(error.what() + std::string(" (see --help)"));
    }
    for (const std::string &extra : app.remaining()) {
        // CLI11 keeps the "--" that ended the options among the words it did not take.
        if (extra.size() > 1 && extra[0] == '-' && extra != "--") {
            throw UsageError("unknown option " + extra.substr(0, extra.find('=')) +
                             " (see --help)");
        }
    }
    storeRows(args, values, flags, options);

    if (options.help || options.version) {
        // With --help, an INPUT tells which numbering --start and --end take for it.
        options.input = positional.empty() ? std::string() : positional[0];
        return options;
    }
    if (positional.empty()) {
        throw UsageError("no INPUT given (see --help)");
    }
    if (positional.size() > 1) {
        throw UsageError("one INPUT expected, got \"" + positional[0] + "\" and \"" +
                         positional[1] + "\" (is a pattern expanded by the shell? quote it)");
    }
    options.input = positional[0];
    if (options.output.empty()) {
        throw UsageError("no output file given: use -o OUTPUT");
    }
    return options;
}

CommandLine readCommandLine(const std::vector<std::string> &args)
{
    CommandLine line;
    try {
        line.options = parseOptions(args);
    } catch (...) {
        line.failure = std::current_exception();
        line.options = Options();
        readOutputFlags(args, line.options);
    }
    return line;
}

std::string helpText(const std::string &program, const std::optional<ModuleDefaults> &defaults)
{
    std::ostringstream text;
    text << "Usage: " << program << " INPUT -o OUTPUT [options]\n"
         << "  or:  " << program << " align INPUT -o MOTION.json [options]\n"
         << "  or:  " << program << " merge -o PLATE STRIP...\n"
         << "  or:  " << program << " --help [INPUT] | --version\n"
         << "\n"
         << "Builds a clean plate, the static background of a shot, from the frames of INPUT with\n"
         << "the Framemeld plug-in: each pixel is the mean of the sampled values that most other\n"
         << "samples agree with, so whatever passes through drops out.\n"
         << "\n"
         << "INPUT is an image sequence (shot.####.exr, shot.%04d.png; quote the pattern), a "
            "folder\n"
         << "of frames (taken in name order) or a movie file in any container FFmpeg reads. A\n"
         << "file that exists by the name given is that file, even if its name holds # or %d.\n"
         << "Frame numbers: --start, --end and --frames take the numbers in the file names of an\n"
         << "image sequence (--start 1001 is shot.1001.exr), and of a folder whose files are\n"
         << "named alike but for their number; other folders and a movie count from 0. A frame\n"
         << "missing from the numbering is an error only when it is sampled. --help INPUT tells\n"
         << "which numbering INPUT has and its first and last number.\n"
         << "\n"
         << "Options:\n"
         << optionsHelp(defaults, false) << "\n"
         << "The plate keeps the render depth where the format allows it: TIFF holds 8-bit,\n"
         << "16-bit and float plates as they are, EXR stores 8-bit plates as half and the others\n"
         << "as float, PNG and DPX hold at most 16 bits, JPEG 8. It has alpha when the footage "
            "has.\n"
         << "\n"
         << "align INPUT -o MOTION.json registers the frames a render with the same --start,\n"
         << "--end, --every or --frames samples (--align, default similarity; --reference;\n"
         << "--depth, --threads, --plugin, -q, --progress, --json) and writes their transforms to\n"
         << "MOTION.json, rendering nothing; a render given --motion MOTION.json warps with\n"
         << "them instead of registering, and its plate is the one --align makes.\n"
         << "\n"
         << "merge -o PLATE STRIP... joins strips rendered with --rows into the plate, byte for\n"
         << "byte the one a single run writes; the strips must cover every row exactly once and\n"
         << "share the plate size, depth, channels and settings. -q and --json apply as above.\n"
         << "\n"
         << "Exit status: 0 done, 1 failed (footage, module or output), 2 wrong command line,\n"
         << "3 the plug-in module crashed or exited while running one of its commands,\n"
         << "130 cancelled with Ctrl-C. A failed or cancelled run leaves no output file.\n";
    return text.str();
}

} // namespace framemeld::cli
