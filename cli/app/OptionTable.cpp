#include "cli/app/OptionTable.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "cli/core/CliError.h"
#include "cli/plan/FrameList.h"
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
// Sequences carry up to 12 digits, so frame numbers reach far past an int; doubles hold every
// whole number up to 2^53 exactly.
double parseFrameNumber(const std::string &option, const std::string &text)
{
    const double value = parseNumber(option, text);
    if (value != std::floor(value) || std::fabs(value) > 1e15) {
        throw UsageError(option + " needs a whole number, not \"" + text + "\"");
    }
    return value;
}

// A number, or `auto`; the last one given counts.
SliderChoice parseChoice(const std::string &option, const std::string &text)
{
    return text == "auto" ? SliderChoice::automatic() : SliderChoice::of(parseNumber(option, text));
}

// "Y0:Y1", two whole numbers with Y0 below Y1; whether Y1 lies within the frame is known only
// once the footage is probed. Exactly one colon with digits on both sides: "0::5" and "0:10:20"
// are mistakes, not the rows 0 to 10.
RowSpan parseRows(const std::string &text)
{
    const auto colon = text.find(':');
    const std::string shape =
        "--rows needs FIRST:END, two whole numbers of rows (0:540), not \"" + text + "\"";
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos ||
        text.find_first_not_of("0123456789:") != std::string::npos || colon == 0 ||
        colon + 1 == text.size() || colon > 9 || text.size() - colon - 1 > 9) {
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

std::string formatDefault(const std::optional<double> &value)
{
    if (!value) {
        return "the plug-in's default";
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", *value);
    return buffer;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Where the help of every option starts, and the indent of its further lines.
constexpr std::size_t kHelpColumn = 24;

const std::vector<OptionRow> kOptions = {
    {"-o", "--output", "FILE",
     "the clean plate; the format follows the extension\n"
     "(EXR, TIFF, PNG, DPX, JPEG, ...). Required.",
     ValueCompletion::Nothing, nullptr, true,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a file name");
         }
         options.output = value;
     }},
    {nullptr, "--start", "N", "first frame to sample (default: the clip's first frame)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.start = parseFrameNumber(typed, value);
     }},
    {nullptr, "--end", "N", "last frame to sample (default: the clip's last frame)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.end = parseFrameNumber(typed, value);
     }},
    {nullptr, "--every", "N", "sample every N-th frame from --start (default: 1)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.every = parseFrameNumber(typed, value);
     }},
    {nullptr, "--frames", "LIST",
     "the frames to sample as a list, in place of --start, --end\n"
     "and --every: 1001-1100x4 (every 4th from 1001 to 1100),\n"
     "1001,1005,1009, ranges joined with commas; they must make\n"
     "one evenly spaced range, as the plug-in samples",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &) {
         parseFrameList(value); // the shape now; the spacing once the sliders are known
         options.frames = value;
     }},
    {nullptr, "--divergence", "D",
     "values agree when they differ by less than D levels of 255\n"
     "at 8 bits, or D percent of full scale at 16 and 32 bits;\n"
     "auto (the default) measures the footage's noise and picks\n"
     "D from it{divergence-default}",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.divergence = parseChoice(typed, value);
     }},
    {nullptr, "--rating-range", "R",
     "average the values whose agreement count lies within R of\n"
     "the best one; auto picks R from the number of frames\n"
     "sampled (default: auto while D is auto,\n"
     "otherwise {rating-range-default})",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.ratingRange = parseChoice(typed, value);
     }},
    {nullptr, "--depth", "8|16|32",
     "render depth (default: the footage's own: 8-bit files at 8,\n"
     "16-bit at 16, half and float at 32). Another depth converts\n"
     "the frames: to 8 and 16 bits with rounding, values outside\n"
     "0..1 clipped; to 32 bits exactly.",
     ValueCompletion::Words, "8 16 32", false,
     [](Options &options, const std::string &value, const std::string &typed) {
         const int bits = parseWholeNumber(typed, value);
         if (bits != 8 && bits != 16 && bits != 32) {
             throw UsageError(typed + " must be 8, 16 or 32, not \"" + value + "\"");
         }
         options.depth = bits;
     }},
    {nullptr, "--working-space", "SPACE",
     "the values the consensus compares and averages, and the\n"
     "Divergence is in: auto (the default: scene-linear float\n"
     "footage in log, all other footage as it is), linear (as it\n"
     "is), log (0.5 + log2(x / 0.18) / 16: 16 stops a unit), or a\n"
     "colour space of the OpenColorIO configuration by name. The\n"
     "frames are encoded before the plug-in reads them, the plate\n"
     "decoded after.",
     ValueCompletion::Words, "auto linear log", false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs auto, linear, log or a colour space's name");
         }
         options.workingSpace = WorkingSpaceRequest::parse(value);
     }},
    {nullptr, "--ocio-config", "FILE",
     "the OpenColorIO configuration whose colour spaces\n"
     "--working-space may name (default: $OCIO)",
     ValueCompletion::Files, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a file name");
         }
         options.ocioConfig = value;
     }},
    {nullptr, "--threads", "N", "threads for decoding and rendering (default: one per core)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         const int count = parseWholeNumber(typed, value);
         if (count < 1 || count > 1024) {
             throw UsageError(typed + " must be between 1 and 1024, not \"" + value + "\"");
         }
         options.threads = count;
     }},
    {nullptr, "--memory", "SIZE",
     "memory budget (512M, 4G, ...; default: half of what is\n"
     "available, the cgroup's limit included). Footage that does\n"
     "not fit is decoded once into a scratch file in $TMPDIR and\n"
     "the plate rendered in strips of rows that fit. merge: the\n"
     "plate must fit it.",
     ValueCompletion::Nothing, nullptr, true,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.memory = parseMemorySize(typed, value);
     }},
    {nullptr, "--rows", "FIRST:END",
     "render only rows FIRST to END-1 of the plate (0 is the top),\n"
     "one strip for a render farm, to OUTPUT with END-FIRST rows\n"
     "and a record OUTPUT.framemeld-strip.json beside it that\n"
     "merge checks. Use a lossless format (PNG, TIFF, EXR).",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &) {
         options.rows = parseRows(value);
     }},
    {nullptr, "--data-type", "TYPE",
     "the plate's samples, as oiiotool names them: uint8, uint16,\n"
     "half, float (uint10, uint12 for DPX) (default: the footage's\n"
     "type at its own depth, else the render depth's; the summary\n"
     "says when an integer type clips a 32-bit render)",
     ValueCompletion::Words, "uint8 uint10 uint12 uint16 half float", false,
     [](Options &options, const std::string &value, const std::string &typed) {
         static const char *const kTypes[] = {"uint8",  "uint10", "uint12",
                                              "uint16", "half",   "float"};
         for (const char *type : kTypes) {
             if (value == type) {
                 options.dataType = value;
                 return;
             }
         }
         throw UsageError(typed + " must be uint8, uint10, uint12, uint16, half or float, not \"" +
                          value + "\"");
     }},
    {nullptr, "--compression", "NAME",
     "the plate format's own compression: EXR none, rle, zips,\n"
     "zip, piz, pxr24, b44, b44a, dwaa:45, dwab; TIFF none, lzw,\n"
     "zip:1-9, packbits; PNG deflate:0-9; JPEG jpeg:QUALITY\n"
     "(required: JPEG is lossy); WebP webp:QUALITY (lossy, required)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty() || value.size() > 32) {
             throw UsageError(typed + " needs a compression name such as zip, piz or dwaa:45");
         }
         options.compression = value;
     }},
    {nullptr, "--holdout", "MATTE",
     "where MATTE says foreground, that frame's sample does not\n"
     "count: an image sequence or movie with the footage's frame\n"
     "numbers and size, or one image for every frame. Foreground\n"
     "is alpha (else the first channel) at or above half.",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a matte");
         }
         options.holdout = value;
     }},
    {nullptr, "--holdout-invert", nullptr, "the holdout matte's foreground is below half instead",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &, const std::string &) {
         options.holdoutInvert = true;
     }},
    {nullptr, "--align", "MODEL",
     "register every sampled frame to the reference and warp it\n"
     "into it before the plate is made, for a moving camera:\n"
     "none (the default), translation, similarity (with rotation\n"
     "and scale) or perspective. Pixels a warped frame does not\n"
     "cover are held out.",
     ValueCompletion::Words, "none translation similarity perspective", false,
     [](Options &options, const std::string &value, const std::string &typed) {
         align::MotionModel model;
         if (!align::motionModelFromName(value, model)) {
             throw UsageError(typed +
                              " must be none, translation, similarity or perspective, "
                              "not \"" +
                              value + "\"");
         }
         options.align = model;
     }},
    {nullptr, "--reference", "N",
     "the frame --align registers the others to, by the clip's\n"
     "numbering; the plate lines up with it (default: the middle\n"
     "sampled frame)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         options.reference = parseWholeNumber(typed, value);
     }},
    {nullptr, "--motion", "FILE",
     "warp the frames with the transforms of FILE, a motion file\n"
     "`framemeld align` wrote for the same frames, instead of\n"
     "registering them (--align and --reference come from it)",
     ValueCompletion::Files, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a motion file");
         }
         options.motion = value;
     }},
    {nullptr, "--confidence", "FILE",
     "write a one-channel image of the plate's size: the share of\n"
     "sampled frames that agree with the plate at each pixel",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a file name");
         }
         options.confidence = value;
     }},
    {nullptr, "--mattes", "PATTERN",
     "write, for every sampled frame, a one-channel matte of where\n"
     "it differs from the plate; PATTERN holds the frame number\n"
     "(diff.####.png)",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a file name pattern");
         }
         options.mattes = value;
     }},
    {nullptr, "--plugin", "PATH",
     "the Framemeld module to load (default: the one installed or\n"
     "built with this program)",
     ValueCompletion::Modules, nullptr, false,
     [](Options &options, const std::string &value, const std::string &typed) {
         if (value.empty()) {
             throw UsageError(typed + " needs a path");
         }
         options.plugin = value;
     }},
    {"-q", "--quiet", nullptr, "no progress bar and no summary line", ValueCompletion::Nothing,
     nullptr, true,
     [](Options &options, const std::string &, const std::string &) { options.quiet = true; }},
    {nullptr, "--progress", nullptr,
     "print a line per step on stderr, terminal or not, for logs\n"
     "and render managers: percent=P phase=WORD frames_read=N\n"
     "frames=N elapsed=SECONDS (a step: a phase starts, or another\n"
     "whole percent of it is done); no progress bar then",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &, const std::string &) {
         options.progressLines = true;
     }},
    {nullptr, "--json", nullptr,
     "print one JSON object on stdout at the end: input, frames\n"
     "sampled, settings, output, plate, phase times, exit status\n"
     "and message (failures too)",
     ValueCompletion::Nothing, nullptr, true,
     [](Options &options, const std::string &, const std::string &) { options.json = true; }},
    {nullptr, "--version", nullptr,
     "the tool's version, the plug-in module's version and where\n"
     "it was loaded from, and the OpenImageIO version",
     ValueCompletion::Nothing, nullptr, false,
     [](Options &options, const std::string &, const std::string &) { options.version = true; }},
    {"-h", "--help", nullptr, "show this help", ValueCompletion::Nothing, nullptr, true,
     [](Options &options, const std::string &, const std::string &) { options.help = true; }},
};

std::string helpLines(const OptionRow &row, const std::optional<ModuleDefaults> &defaults)
{
    std::string help = row.help;
    replaceAll(help, "{divergence-default}",
               defaults
                   ? " (the plug-in's own default: " + formatDefault(defaults->divergence) + ")"
                   : std::string());
    replaceAll(
        help, "{rating-range-default}",
        formatDefault(defaults ? std::optional<double>(defaults->ratingRange) : std::nullopt));
    std::string left = std::string("  ") +
                       (row.shortName ? std::string(row.shortName) + ", " : std::string("    ")) +
                       row.longName + (row.valueName ? std::string(" ") + row.valueName : "");
    left.resize(std::max(left.size() + 1, kHelpColumn), ' ');
    std::string text;
    std::istringstream lines(help);
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        text += (first ? left : std::string(kHelpColumn, ' ')) + line + "\n";
        first = false;
    }
    return text;
}

} // namespace

std::string OptionRow::cliNames() const
{
    return shortName ? std::string(shortName) + "," + longName : std::string(longName);
}

const std::vector<OptionRow> &optionTable()
{
    return kOptions;
}

std::string optionsHelp(const std::optional<ModuleDefaults> &defaults, bool mergeOnly)
{
    std::string text;
    for (const OptionRow &row : kOptions) {
        if (!mergeOnly || row.merge) {
            text += helpLines(row, defaults);
        }
    }
    if (!mergeOnly) {
        std::string marker = "      --";
        marker.resize(kHelpColumn, ' ');
        text += marker + "end of the options: what follows is INPUT, even \"-x\"\n";
    }
    return text;
}

std::string bashCompletion(const std::string &program)
{
    std::string all;
    std::string merge;
    std::string noGuess;
    std::string cases;
    for (const OptionRow &row : kOptions) {
        const std::string names =
            row.shortName ? std::string(row.shortName) + " " + row.longName : row.longName;
        all += names + " ";
        if (row.merge) {
            merge += names + " ";
        }
        if (!row.takesValue() || row.merge) {
            continue; // merge's -o and the flags complete as file names or not at all
        }
        const std::string pattern =
            row.shortName ? std::string(row.shortName) + " | " + row.longName : row.longName;
        switch (row.completion) {
        case ValueCompletion::Nothing: noGuess += (noGuess.empty() ? "" : " | ") + pattern; break;
        case ValueCompletion::Words:
            cases += "        " + pattern +
                     ")\n            mapfile -t COMPREPLY < <(compgen -W \"" + row.words +
                     "\" -- \"$cur\")\n            return\n            ;;\n";
            break;
        case ValueCompletion::Files: break; // the file names every other word completes to
        case ValueCompletion::Modules:
            cases += "        " + pattern +
                     ")\n            compopt -o filenames 2>/dev/null\n"
                     "            mapfile -t COMPREPLY < <(compgen -f -X '!*@(.so|.dylib|.aex)' -- "
                     "\"$cur\"; compgen -d -- \"$cur\")\n            return\n            ;;\n";
            break;
        }
    }
    all += "--";
    merge.pop_back();
    const std::string function = "_" + program;
    std::string script = "# bash completion for " + program +
                         ": options, their fixed values, and file names elsewhere. Made from "
                         "the tool's option table.\n";
    script += function + "()\n{\n";
    script += "    local cur prev\n    cur=${COMP_WORDS[COMP_CWORD]}\n"
              "    prev=${COMP_WORDS[COMP_CWORD - 1]}\n";
    script += "    local options=\"" + all + "\"\n";
    script += "    # " + program + " merge -o PLATE STRIP...: strips are file names.\n";
    script += "    if [[ ${COMP_WORDS[1]} == merge && $COMP_CWORD -gt 1 ]]; then\n"
              "        options=\"" +
              merge + "\"\n    fi\n";
    script += "    local word\n    for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
              "        if [[ $word == -- ]]; then\n            options=\"\"\n        fi\n"
              "    done\n\n";
    script += "    case $prev in\n" + cases;
    if (!noGuess.empty()) {
        script += "        " + noGuess +
                  ")\n            COMPREPLY=()\n            return\n"
                  "            ;;\n";
    }
    script += "    esac\n";
    script += "    if [[ -n $options && $cur == -* ]]; then\n"
              "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
              "        return\n    fi\n";
    script +=
        "    # INPUT (a file, a folder or a quoted pattern) and -o OUTPUT are file names; the "
        "first word\n    # may also be the align or merge subcommand.\n";
    script += "    compopt -o filenames 2>/dev/null\n"
              "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
              "    local command\n    for command in align merge; do\n"
              "        if [[ $COMP_CWORD -eq 1 && $command == \"$cur\"* ]]; then\n"
              "            COMPREPLY+=(\"$command\")\n        fi\n    done\n}\n";
    script += "complete -F " + function + " " + program + "\n";
    return script;
}

} // namespace framemeld::cli
