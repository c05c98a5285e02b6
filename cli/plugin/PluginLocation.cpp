#include "cli/plugin/PluginLocation.h"

#include <filesystem>
#include <system_error>

#include "cli/core/CliError.h"

#ifndef FRAMEMELD_PLUGIN_FILE_NAME
#define FRAMEMELD_PLUGIN_FILE_NAME "Framemeld.so"
#endif

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

fs::path executableFolder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

} // namespace

std::vector<std::string> defaultPluginCandidates()
{
    std::vector<std::string> candidates;
    const fs::path folder = executableFolder();
    if (!folder.empty()) {
        candidates.push_back((folder / FRAMEMELD_PLUGIN_FILE_NAME).string());
        candidates.push_back((folder.parent_path() / FRAMEMELD_PLUGIN_FILE_NAME).string());
        // Installed: bin/framemeld finds lib/framemeld/, wherever the tree was put.
        candidates.push_back(
            (folder.parent_path() / "lib" / "framemeld" / FRAMEMELD_PLUGIN_FILE_NAME).string());
    }
#ifdef FRAMEMELD_PLUGIN_BUILD_PATH
    candidates.push_back(FRAMEMELD_PLUGIN_BUILD_PATH);
#endif
    return candidates;
}

std::string locatePlugin(const std::string &requested)
{
    std::error_code error;
    if (!requested.empty()) {
        if (!fs::is_regular_file(requested, error)) {
            throw RunError(requested + ": no such plug-in module (--plugin)");
        }
        // The file checked is the file loaded: the loader would look a name without a slash up
        // on the library search path, not in the current folder.
        return requested.find('/') == std::string::npos ? "./" + requested : requested;
    }
    std::string looked;
    for (const std::string &candidate : defaultPluginCandidates()) {
        if (fs::is_regular_file(candidate, error)) {
            return candidate;
        }
        looked += (looked.empty() ? "" : ", ") + candidate;
    }
    throw RunError("cannot find the plug-in module " FRAMEMELD_PLUGIN_FILE_NAME " (looked at " +
                   looked + "); name it with --plugin PATH");
}

} // namespace framemeld::cli
