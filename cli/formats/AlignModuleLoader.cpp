#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "cli/core/CliError.h"
#include "cli/formats/AlignModule.h"

#ifndef FRAMEMELD_ALIGN_MODULE_FILE_NAME
#define FRAMEMELD_ALIGN_MODULE_FILE_NAME "framemeld-opencv.so"
#endif

namespace fs = std::filesystem;

namespace framemeld::cli::align {
namespace {

std::vector<std::string> moduleCandidates()
{
    std::vector<std::string> candidates;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        candidates.push_back((self.parent_path() / FRAMEMELD_ALIGN_MODULE_FILE_NAME).string());
        // Installed: bin/framemeld finds lib/framemeld/, wherever the tree was put.
        candidates.push_back((self.parent_path().parent_path() / "lib" / "framemeld" /
                              FRAMEMELD_ALIGN_MODULE_FILE_NAME)
                                 .string());
    }
#ifdef FRAMEMELD_ALIGN_MODULE_BUILD_PATH
    candidates.push_back(FRAMEMELD_ALIGN_MODULE_BUILD_PATH);
#endif
    return candidates;
}

const AlignModule *load(std::string &failure, std::string &loadedFrom)
{
    for (const std::string &candidate : moduleCandidates()) {
        std::error_code error;
        if (!fs::is_regular_file(candidate, error)) {
            failure += (failure.empty() ? "" : "; ") + candidate + ": not there";
            continue;
        }
        // Never closed: OpenCV keeps its thread pool until the process ends.
        void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char *why = dlerror();
            failure +=
                (failure.empty() ? "" : "; ") + candidate + ": " + (why ? why : "cannot load");
            continue;
        }
        auto entry = reinterpret_cast<AlignModuleEntry>(dlsym(handle, kAlignModuleEntryName));
        const AlignModule *module = entry ? entry(kAlignModuleInterface) : nullptr;
        if (module != nullptr) {
            loadedFrom = candidate;
            return module;
        }
        failure +=
            (failure.empty() ? "" : "; ") + candidate + ": built for another version of the tool";
    }
    return nullptr;
}

std::string loadedModulePath;

} // namespace

const AlignModule &alignModule()
{
    static std::once_flag once;
    static const AlignModule *module = nullptr;
    static std::string failure;
    std::call_once(once, [] { module = load(failure, loadedModulePath); });
    if (module == nullptr) {
        throw RunError("cannot load the alignment module " FRAMEMELD_ALIGN_MODULE_FILE_NAME
                       ", which registers and warps frames for --align (" +
                       failure + ")");
    }
    return *module;
}

std::string alignModulePath()
{
    alignModule();
    return loadedModulePath;
}

} // namespace framemeld::cli::align
