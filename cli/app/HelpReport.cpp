#include "cli/app/HelpReport.h"

#include <chrono>
#include <exception>

#include "cli/app/StandardOutput.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/plugin/ModuleDefaultsProbe.h"
#include "cli/plugin/PluginLocation.h"

namespace framemeld::cli {
namespace {

std::optional<ModuleDefaults> moduleDefaults(const std::string &requestedPlugin)
{
    std::string modulePath;
    try {
        modulePath = locatePlugin(requestedPlugin);
    } catch (const std::exception &) {
        return std::nullopt;
    }
    return probeModuleDefaults(modulePath, std::chrono::seconds(10));
}

std::string clipNumberingNote(const std::string &input)
{
    if (input.empty()) {
        return {};
    }
    try {
        return "\n" + input + ": --start and --end take " +
               numberingOf(discoverClip(input)).describe() + "\n";
    } catch (const std::exception &error) {
        return "\n" + input + ": " + error.what() + "\n";
    }
}

} // namespace

void printHelp(const Options &options)
{
    writeToStdout(helpText("framemeld", moduleDefaults(options.plugin)) +
                  clipNumberingNote(options.input));
}

} // namespace framemeld::cli
