#include "cli/app/VersionReport.h"

#include "cli/app/StandardOutput.h"
#include "cli/core/CliError.h"
#include "cli/core/ToolVersion.h"
#include "cli/formats/OiioModule.h"
#include "cli/plugin/PluginLocation.h"
#include "cli/plugin/PluginSession.h"

namespace framemeld::cli {

std::string moduleVersionText(A_u_long packed)
{
    std::string text =
        std::to_string(PF_Version_VERS(packed)) + "." + std::to_string(PF_Version_SUBVERS(packed));
    if (PF_Version_BUGFIX(packed) != 0) {
        text += "." + std::to_string(PF_Version_BUGFIX(packed));
    }
    return text;
}

void printVersion(const std::string &requestedPlugin)
{
    writeToStdout(std::string("framemeld ") + toolVersion() + "\n");
    const std::string modulePath = locatePlugin(requestedPlugin);
    const PluginSession session(modulePath, 1, nullptr, "its version is not known");
    std::string text = "plug-in module: Framemeld " + moduleVersionText(session.moduleVersion()) +
                       ", " + modulePath + "\n";
    try {
        const OiioModule &module = oiioModule();
        text += "OpenImageIO: " + module.libraryVersion() + ", through " + oiioModulePath() + "\n";
    } catch (const RunError &error) {
        text += std::string("OpenImageIO: not available; only PNG is read and written (") +
                error.what() + ")\n";
    }
    writeToStdout(text);
}

} // namespace framemeld::cli
