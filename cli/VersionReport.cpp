#include "cli/VersionReport.h"

#include <exception>

#include "cli/CliError.h"
#include "cli/PluginLocation.h"
#include "cli/PluginSession.h"
#include "cli/oiio/OiioModule.h"

#ifndef FRAMEMELD_PROJECT_VERSION
#error "FRAMEMELD_PROJECT_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace framemeld::cli {

const char *toolVersion()
{
    return FRAMEMELD_PROJECT_VERSION;
}

std::string moduleVersionText(A_u_long packed)
{
    std::string text =
        std::to_string(PF_Version_VERS(packed)) + "." + std::to_string(PF_Version_SUBVERS(packed));
    if (PF_Version_BUGFIX(packed) != 0) {
        text += "." + std::to_string(PF_Version_BUGFIX(packed));
    }
    return text;
}

std::string versionReport(const std::string &requestedPlugin, std::string &firstLine)
{
    firstLine = std::string("framemeld ") + toolVersion() + "\n";
    const std::string modulePath = locatePlugin(requestedPlugin);
    const PluginSession session(modulePath, 1);
    std::string text = firstLine + "plug-in module: Framemeld " +
                       moduleVersionText(session.moduleVersion()) + ", " + modulePath + "\n";
    try {
        const OiioModule &module = oiioModule();
        text += "OpenImageIO: " + module.libraryVersion() + ", through " + oiioModulePath() + "\n";
    } catch (const RunError &error) {
        text += std::string("OpenImageIO: not available; only PNG is read and written (") +
                error.what() + ")\n";
    }
    return text;
}

} // namespace framemeld::cli
