#include "cli/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "cli/CliError.h"

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

Options parseOptions(const std::vector<std::string> &args)
{
    Options options;
    std::vector<std::string> positional;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const auto equals = name.find('=');
            if (equals != std::string::npos) {
                inlineValue = name.substr(equals + 1);
                name = name.substr(0, equals);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= args.size()) {
                throw UsageError(name + " needs a value");
            }
            return args[++i];
        };
        auto noValue = [&]() {
            if (inlineValue) {
                throw UsageError(name + " takes no value");
            }
        };

        if (name == "-h" || name == "--help") {
            noValue();
            options.help = true;
        } else if (name == "-q" || name == "--quiet") {
            noValue();
            options.quiet = true;
        } else if (name == "-o" || name == "--output") {
            options.output = value();
            if (options.output.empty()) {
                throw UsageError(name + " needs a file name");
            }
        } else if (name == "--start") {
            options.start = parseFrameNumber(name, value());
        } else if (name == "--end") {
            options.end = parseFrameNumber(name, value());
        } else if (name == "--every") {
            options.every = parseFrameNumber(name, value());
        } else if (name == "--divergence") {
            const std::string text = value();
            options.divergenceAuto = text == "auto";
            options.divergence.reset();
            if (!options.divergenceAuto) {
                options.divergence = parseNumber(name, text);
            }
        } else if (name == "--rating-range") {
            options.ratingRange = parseNumber(name, value());
        } else if (name == "--depth") {
            const std::string text = value();
            const int depth = parseWholeNumber(name, text);
            if (depth != 8 && depth != 16 && depth != 32) {
                throw UsageError("--depth must be 8, 16 or 32, not \"" + text + "\"");
            }
            options.depth = depth;
        } else if (name == "--threads") {
            const std::string text = value();
            const int threads = parseWholeNumber(name, text);
            if (threads < 1 || threads > 1024) {
                throw UsageError("--threads must be between 1 and 1024, not \"" + text + "\"");
            }
            options.threads = threads;
        } else if (name == "--plugin") {
            options.plugin = value();
            if (options.plugin.empty()) {
                throw UsageError("--plugin needs a path");
            }
        } else if (name.size() > 1 && name[0] == '-') {
            throw UsageError("unknown option " + name + " (see --help)");
        } else {
            positional.push_back(args[i]);
        }
    }

    if (options.help) {
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
         << "\n"
         << "Builds a clean plate, the static background of a shot, from the frames of INPUT with\n"
         << "the Framemeld plug-in: each pixel is the mean of the sampled values that most other\n"
         << "samples agree with, so whatever passes through drops out.\n"
         << "\n"
         << "INPUT is an image sequence (shot.####.exr, shot.%04d.png; quote the pattern), a "
            "folder\n"
         << "of frames (taken in name order) or a movie file. Frame 0 is the clip's first frame,\n"
         << "whatever number its file name carries.\n"
         << "\n"
         << "Options:\n"
         << "  -o, --output FILE     the clean plate; the format follows the extension\n"
         << "                        (EXR, TIFF, PNG, DPX, JPEG, ...). Required.\n"
         << "      --start N         first frame to sample (default: 0)\n"
         << "      --end N           last frame to sample (default: the clip's last frame)\n"
         << "      --every N         sample every N-th frame from --start (default: 1)\n"
         << "      --divergence D    values agree when they differ by less than D levels of 255\n"
         << "                        at 8 bits, or D percent of full scale at 16 and 32 bits;\n"
         << "                        auto (the default) measures the footage's noise and picks\n"
         << "                        D from it (the plug-in's own default: "
         << formatDefault(defaults.divergence) << ")\n"
         << "      --rating-range R  average the values whose agreement count lies within R of\n"
         << "                        the best one (default: " << formatDefault(defaults.ratingRange)
         << ")\n"
         << "      --depth 8|16|32   render depth (default: the footage's own: 8-bit files at 8,\n"
         << "                        16-bit at 16, half and float at 32). Another depth converts\n"
         << "                        the frames: to 8 and 16 bits with rounding, values outside\n"
         << "                        0..1 clipped; to 32 bits exactly.\n"
         << "      --threads N       threads for decoding and rendering (default: one per core)\n"
         << "      --plugin PATH     the Framemeld module to load (default: the one built with\n"
         << "                        this program)\n"
         << "  -q, --quiet           no progress bar\n"
         << "  -h, --help            show this help\n"
         << "\n"
         << "The plate keeps the render depth where the format allows it: TIFF holds 8-bit,\n"
         << "16-bit and float plates as they are, EXR stores 8-bit plates as half and the others\n"
         << "as float, PNG and DPX hold at most 16 bits, JPEG 8. It has alpha when the footage "
            "has.\n"
         << "\n"
         << "Exit status: 0 done, 1 failed (footage, module or output), 2 wrong command line,\n"
         << "130 cancelled with Ctrl-C. A failed or cancelled run leaves no output file.\n";
    return text.str();
}

} // namespace framemeld::cli
