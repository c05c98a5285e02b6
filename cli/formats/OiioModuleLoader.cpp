#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/formats/OiioModule.h"

#ifndef FRAMEMELD_OIIO_MODULE_FILE_NAME
#define FRAMEMELD_OIIO_MODULE_FILE_NAME "framemeld-oiio.so"
#endif

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

std::vector<std::string> moduleCandidates()
{
    std::vector<std::string> candidates;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        candidates.push_back((self.parent_path() / FRAMEMELD_OIIO_MODULE_FILE_NAME).string());
        // Installed: bin/framemeld finds lib/framemeld/, wherever the tree was put.
        candidates.push_back((self.parent_path().parent_path() / "lib" / "framemeld" /
                              FRAMEMELD_OIIO_MODULE_FILE_NAME)
                                 .string());
    }
#ifdef FRAMEMELD_OIIO_MODULE_BUILD_PATH
    candidates.push_back(FRAMEMELD_OIIO_MODULE_BUILD_PATH);
#endif
    return candidates;
}

const OiioModule *load(std::string &failure, std::string &loadedFrom)
{
    for (const std::string &candidate : moduleCandidates()) {
        std::error_code error;
        if (!fs::is_regular_file(candidate, error)) {
            failure += (failure.empty() ? "" : "; ") + candidate + ": not there";
            continue;
        }
        // Never closed: OpenImageIO keeps threads and caches until the process ends.
        void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char *why = dlerror();
            failure +=
                (failure.empty() ? "" : "; ") + candidate + ": " + (why ? why : "cannot load");
            continue;
        }
        auto entry = reinterpret_cast<OiioModuleEntry>(dlsym(handle, kOiioModuleEntryName));
        const OiioModule *footage = entry ? entry(kOiioModuleInterface) : nullptr;
        if (footage != nullptr) {
            loadedFrom = candidate;
            return footage;
        }
        failure +=
            (failure.empty() ? "" : "; ") + candidate + ": built for another version of the tool";
    }
    return nullptr;
}

std::string loadedModulePath;

} // namespace

const OiioModule &oiioModule()
{
    static std::once_flag once;
    static const OiioModule *footage = nullptr;
    static std::string failure;
    std::call_once(once, [] { footage = load(failure, loadedModulePath); });
    if (footage == nullptr) {
        throw RunError("cannot load the OpenImageIO module " FRAMEMELD_OIIO_MODULE_FILE_NAME
                       ", which reads and writes every format but PNG (" +
                       failure + ")");
    }
    return *footage;
}

std::string oiioModulePath()
{
    oiioModule();
    return loadedModulePath;
}

} // namespace framemeld::cli
