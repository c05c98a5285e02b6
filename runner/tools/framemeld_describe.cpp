// framemeld_describe MODULE: loads an effect module, runs its setup as the host does and prints
// what it registered: version, flags and every parameter with its ranges, default and precision.
// Loading a module runs its code, so a word that reads as an option is never taken for a module
// file: --help answers, other options are refused, and "--" comes before a file named "-x".
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "runner/Host.h"

using namespace framemeld::runner;

namespace {

const char *typeName(PF_ParamType type)
{
    switch (type) {
    case PF_Param_LAYER: return "layer";
    case PF_Param_SLIDER: return "slider";
    case PF_Param_FIX_SLIDER: return "fixed slider";
    case PF_Param_ANGLE: return "angle";
    case PF_Param_CHECKBOX: return "checkbox";
    case PF_Param_COLOR: return "color";
    case PF_Param_POINT: return "point";
    case PF_Param_POPUP: return "popup";
    case PF_Param_FLOAT_SLIDER: return "float slider";
    case PF_Param_GROUP_START: return "group start";
    case PF_Param_GROUP_END: return "group end";
    case PF_Param_BUTTON: return "button";
    default: return "other";
    }
}

void printVersion(A_u_long version)
{
    const unsigned major =
        ((version >> PF_Vers_VERS_SHIFT) & PF_Vers_VERS_BITS) |
        (((version >> PF_Vers_VERS_HIGH_SHIFT) & PF_Vers_VERS_HIGH_BITS) << PF_Vers_VERS_LOW_SHIFT);
    std::printf("version     0x%08X (%u.%u.%u, stage %u, build %u)\n",
                static_cast<unsigned>(version), major,
                static_cast<unsigned>((version >> PF_Vers_SUBVERS_SHIFT) & PF_Vers_SUBVERS_BITS),
                static_cast<unsigned>((version >> PF_Vers_BUGFIX_SHIFT) & PF_Vers_BUGFIX_BITS),
                static_cast<unsigned>((version >> PF_Vers_STAGE_SHIFT) & PF_Vers_STAGE_BITS),
                static_cast<unsigned>((version >> PF_Vers_BUILD_SHIFT) & PF_Vers_BUILD_BITS));
}

void printUsage(std::FILE *stream, const char *program)
{
    std::fprintf(stream,
                 "usage: %s [--] MODULE\n"
                 "Loads the effect module MODULE, runs its setup as a host does and lists what\n"
                 "it registered: version, flags, and every parameter with its ranges, default\n"
                 "and precision. Exit status: 0 when the setup was sound, 1 when it was not or\n"
                 "the module did not load, 2 for a wrong command line.\n",
                 program);
}

} // namespace

int main(int argc, char **argv)
{
    const char *program = argc > 0 ? argv[0] : "framemeld_describe";
    const char *modulePath = nullptr;
    bool optionsOver = false;
    for (int i = 1; i < argc; ++i) {
        const char *word = argv[i];
        if (!optionsOver && std::strcmp(word, "--") == 0) {
            optionsOver = true;
        } else if (!optionsOver &&
                   (std::strcmp(word, "-h") == 0 || std::strcmp(word, "--help") == 0)) {
            printUsage(stdout, program);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        } else if (!optionsOver && word[0] == '-' && word[1] != '\0') {
            std::fprintf(stderr, "%s: unknown option %s\n", program, word);
            printUsage(stderr, program);
            return 2;
        } else if (modulePath == nullptr) {
            modulePath = word;
        } else {
            std::fprintf(stderr, "%s: one MODULE expected\n", program);
            printUsage(stderr, program);
            return 2;
        }
    }
    if (modulePath == nullptr) {
        printUsage(stderr, program);
        return 2;
    }
    try {
        PluginModule module(modulePath);
        Host host(module.entryPoint(), HostOptions{1, {}, 0});
        const SetupResult setup = host.setup();

        std::printf("module      %s\n", module.path().c_str());
        printVersion(setup.version);
        std::printf("out_flags   0x%08X\n", static_cast<unsigned>(setup.outFlags));
        std::printf("out_flags2  0x%08X\n", static_cast<unsigned>(setup.outFlags2));
        std::printf("num_params  %d\n", static_cast<int>(setup.numParams));
        for (const Parameter &p : host.parameters()) {
            std::printf("param %d  id %d  %-14s \"%s\"", static_cast<int>(p.index),
                        static_cast<int>(p.id()), typeName(p.type()), p.name().c_str());
            if (p.holdsNumber()) {
                std::printf("  valid %g..%g  slider %g..%g  default %g  precision %d", p.validMin(),
                            p.validMax(), p.sliderMin(), p.sliderMax(), p.defaultValue(),
                            p.precision());
            }
            std::printf("\n");
        }
        for (const std::string &problem : setup.problems) {
            std::printf("problem     %s\n", problem.c_str());
        }
        for (const std::string &violation : violations(setup.accounting)) {
            std::printf("violation   %s\n", violation.c_str());
        }
        return setup.ok() ? 0 : 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "framemeld_describe: %s\n", error.what());
        return 1;
    }
}
