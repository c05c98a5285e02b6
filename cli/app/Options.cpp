#include "cli/app/Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/core/CliError.h"
#include "cli/plan/MemorySize.h"

namespace framemeld::cli {
namespace {

double parseNumber(const std::string &option, const std::string &text)
{
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(value)) {
        throw UsageError(option + " needs a number, not \"" + text + "\"");
    }
    return value;
}

int parseWholeNumber(const std::string &option, const std::string &text)
{
    const double value = parseNumber(option, text);
    if (value != std::floor(value) || value < -1e9 || value > 1e9) {
        throw UsageError(option + " needs a whole number, not \"" + text + "\"");
    }
    return static_cast<int>(value);
}

// Frame numbers are sliders in the plug-in, but a fraction of a frame means nothing on the
// command line, so only whole numbers are taken for them.
double parseFrameNumber(const std::string &option, const std::string &text)
{
    return parseWholeNumber(option, text);
}

// The spelling of a two-named option that the user typed last, for messages about its value.
std::string spelledAs(const std::vector<std::string> &args, const char *shortName,
                      const char *longName)
{
    std::string typed = longName;
    for (const std::string &word : args) {
        if (word == "--") {
            break;
        }
        if (word == shortName) {
            typed = shortName;
        } else if (word.rfind(longName, 0) == 0) {
            typed = longName;
        }
    }
    return typed;
}

std::string formatDefault(const std::optional<double> &value)
{
    if (!value) {
        return "the plug-in's default";
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", *value);
    return buffer;
}

} // namespace

namespace {

// The options that take a value, in every spelling; CLI11 reports a missing value under the
// option's long name, the message names what the user typed.
const std::vector<std::string> kValueOptions = {
    "-o",      "--output",  "--start",  "--end",    "--every", "--divergence", "--rating-range",
    "--depth", "--threads", "--memory", "--plugin", "--rows"};
const std::vector<std::string> kFlagOptions = {"-h",      "--help",    "-q",
                                               "--quiet", "--version", "--json"};

bool isOneOf(const std::string &name, const std::vector<std::string> &names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
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
        if (word.rfind("--", 0) == 0 && equals != std::string::npos &&
            isOneOf(word.substr(0, equals), kFlagOptions)) {
            throw UsageError(word.substr(0, equals) + " takes no value");
        }
        if (isOneOf(word, kValueOptions)) {
            const bool last = i + 1 >= args.size();
            const bool nextIsOption =
                !last && (isOneOf(args[i + 1], kValueOptions) ||
                          isOneOf(args[i + 1], kFlagOptions) || args[i + 1] == "--");
            if (last || nextIsOption) {
                throw UsageError(word + " needs a value");
            }
            ++i;
        }
    }
}

// "Y0:Y1", two whole numbers with Y0 below Y1; whether Y1 lies within the frame is known only
// once the footage is probed.
RowSpan parseRows(const std::string &text)
{
    const auto colon = text.find(':');
    const std::string shape =
        "--rows needs FIRST:END, two whole numbers of rows (0:540), not \"" + text + "\"";
    if (colon == std::string::npos || text.find_first_not_of("0123456789:") != std::string::npos ||
        colon == 0 || colon + 1 == text.size() || colon > 9 || text.size() - colon - 1 > 9) {
        throw UsageError(shape);
    }
    RowSpan rows;
    rows.top = std::stoi(text.substr(0, colon));
    rows.bottom = std::stoi(text.substr(colon + 1));
    if (rows.top >= rows.bottom) {
        throw UsageError("--rows " + text + " holds no row: the first row must lie above the end");
    }
    return rows;
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
    std::optional<std::string> output;
    merge->add_flag("-h,--help", options.help);
    merge->add_flag("-q,--quiet", options.quiet);
    merge->add_flag("--json", options.json);
    merge->add_option("-o,--output", output);
    merge->add_option("STRIP", options.strips);
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::ParseError &error) {
        throw UsageError(error.what() + std::string(" (see merge --help)"));
    }
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

} // namespace

Options parseOptions(const std::vector<std::string> &args)
{
    if (!args.empty() && args[0] == "merge") {
        return parseMergeOptions(args);
    }
    checkOptionShapes(args);

    // Values are taken as text and converted here, so every message names the option the way
    // the documentation does, whatever CLI11 would have said.
    CLI::App app("framemeld");
    app.set_help_flag();
    app.allow_extras();
    // An option given twice: the last one counts, as with most tools.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Options options;
    std::optional<std::string> output, start, end, every, divergence, ratingRange, depth, threads,
        memory, plugin, rows;
    std::vector<std::string> positional;
    app.add_flag("-h,--help", options.help);
    app.add_flag("-q,--quiet", options.quiet);
    app.add_flag("--version", options.version);
    app.add_flag("--json", options.json);
    app.add_option("-o,--output", output);
    app.add_option("--start", start);
    app.add_option("--end", end);
    app.add_option("--every", every);
    app.add_option("--divergence", divergence);
    app.add_option("--rating-range", ratingRange);
    app.add_option("--depth", depth);
    app.add_option("--threads", threads);
    app.add_option("--memory", memory);
    app.add_option("--plugin", plugin);
    app.add_option("--rows", rows);
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

    if (output) {
        if (output->empty()) {
            throw UsageError(spelledAs(args, "-o", "--output") + " needs a file name");
        }
        options.output = *output;
    }
    if (start) {
        options.start = parseFrameNumber("--start", *start);
    }
    if (end) {
        options.end = parseFrameNumber("--end", *end);
    }
    if (every) {
        options.every = parseFrameNumber("--every", *every);
    }
    if (divergence) {
        // A number, or `auto` (also what no --divergence means); the last one given counts.
        options.divergenceAuto = *divergence == "auto";
        if (!options.divergenceAuto) {
            options.divergence = parseNumber("--divergence", *divergence);
        }
    }
    if (ratingRange) {
        options.ratingRangeAuto = *ratingRange == "auto";
        if (!options.ratingRangeAuto) {
            options.ratingRange = parseNumber("--rating-range", *ratingRange);
        }
    }
    if (depth) {
        const int bits = parseWholeNumber("--depth", *depth);
        if (bits != 8 && bits != 16 && bits != 32) {
            throw UsageError("--depth must be 8, 16 or 32, not \"" + *depth + "\"");
        }
        options.depth = bits;
    }
    if (memory) {
        options.memory = parseMemorySize("--memory", *memory);
    }
    if (threads) {
        const int count = parseWholeNumber("--threads", *threads);
        if (count < 1 || count > 1024) {
            throw UsageError("--threads must be between 1 and 1024, not \"" + *threads + "\"");
        }
        options.threads = count;
    }
    if (rows) {
        options.rows = parseRows(*rows);
    }
    if (plugin) {
        if (plugin->empty()) {
            throw UsageError("--plugin needs a path");
        }
        options.plugin = *plugin;
    }

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

std::string helpText(const std::string &program, const HelpDefaults &defaults)
{
    std::ostringstream text;
    text << "Usage: " << program << " INPUT -o OUTPUT [options]\n"
         << "  or:  " << program << " merge -o PLATE STRIP...\n"
         << "  or:  " << program << " --help [INPUT] | --version\n"
         << "\n"
         << "Builds a clean plate, the static background of a shot, from the frames of INPUT with\n"
         << "the Framemeld plug-in: each pixel is the mean of the sampled values that most other\n"
         << "samples agree with, so whatever passes through drops out.\n"
         << "\n"
         << "INPUT is an image sequence (shot.####.exr, shot.%04d.png; quote the pattern), a "
            "folder\n"
         << "of frames (taken in name order) or a movie file. Frame numbers: --start and --end\n"
         << "take the numbers in the file names of an image sequence (--start 1001 is\n"
         << "shot.1001.exr); a folder of frames and a movie count from 0. --help INPUT tells\n"
         << "which numbering INPUT has and its first and last number.\n"
         << "\n"
         << "Options:\n"
         << "  -o, --output FILE     the clean plate; the format follows the extension\n"
         << "                        (EXR, TIFF, PNG, DPX, JPEG, ...). Required.\n"
         << "      --start N         first frame to sample (default: the clip's first frame)\n"
         << "      --end N           last frame to sample (default: the clip's last frame)\n"
         << "      --every N         sample every N-th frame from --start (default: 1)\n"
         << "      --divergence D    values agree when they differ by less than D levels of 255\n"
         << "                        at 8 bits, or D percent of full scale at 16 and 32 bits;\n"
         << "                        auto (the default) measures the footage's noise and picks\n"
         << "                        D from it"
         << (defaults.divergence
                 ? " (the plug-in's own default: " + formatDefault(defaults.divergence) + ")"
                 : std::string())
         << "\n"
         << "      --rating-range R  average the values whose agreement count lies within R of\n"
         << "                        the best one; auto picks R from the number of frames\n"
         << "                        sampled (default: auto while D is auto,\n"
         << "                        otherwise " << formatDefault(defaults.ratingRange) << ")\n"
         << "      --depth 8|16|32   render depth (default: the footage's own: 8-bit files at 8,\n"
         << "                        16-bit at 16, half and float at 32). Another depth converts\n"
         << "                        the frames: to 8 and 16 bits with rounding, values outside\n"
         << "                        0..1 clipped; to 32 bits exactly.\n"
         << "      --threads N       threads for decoding and rendering (default: one per core)\n"
         << "      --memory SIZE     memory budget (512M, 4G, ...; default: half of what is\n"
         << "                        available, the cgroup's limit included). Footage that does\n"
         << "                        not fit is decoded once into a scratch file in $TMPDIR and\n"
         << "                        the plate rendered in strips of rows that fit.\n"
         << "      --rows FIRST:END  render only rows FIRST to END-1 of the plate (0 is the top),\n"
         << "                        one strip for a render farm, to OUTPUT with END-FIRST rows\n"
         << "                        and a record OUTPUT.framemeld-strip.json beside it that\n"
         << "                        merge checks. Use a lossless format (PNG, TIFF, EXR).\n"
         << "      --plugin PATH     the Framemeld module to load (default: the one installed or\n"
         << "                        built with this program)\n"
         << "  -q, --quiet           no progress bar and no summary line\n"
         << "      --json            print one JSON object on stdout at the end: input, frames\n"
         << "                        sampled, settings, output, plate, phase times, exit status\n"
         << "                        and message (failures too)\n"
         << "      --version         the tool's version, the plug-in module's version and where\n"
         << "                        it was loaded from, and the OpenImageIO version\n"
         << "  -h, --help            show this help\n"
         << "      --                end of the options: what follows is INPUT, even \"-x\"\n"
         << "\n"
         << "The plate keeps the render depth where the format allows it: TIFF holds 8-bit,\n"
         << "16-bit and float plates as they are, EXR stores 8-bit plates as half and the others\n"
         << "as float, PNG and DPX hold at most 16 bits, JPEG 8. It has alpha when the footage "
            "has.\n"
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
