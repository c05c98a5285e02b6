// Loading an effect module the way a host does: the shared library by path, then its entry
// point by name. The only place that talks to the operating system's loader.
#pragma once

#include <stdexcept>
#include <string>

#include "AE_Effect.h"

namespace framemeld::runner {

// The signature of the function every effect module exports.
using EntryPoint = PF_Err (*)(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data,
                              PF_ParamDef *params[], PF_LayerDef *output, void *extra);

// The module could not be loaded, or it does not export the entry point. what() names the path
// and carries the system loader's own message.
class ModuleLoadError : public std::runtime_error {
public:
    ModuleLoadError(std::string path, std::string loaderMessage);
    const std::string &path() const noexcept { return path_; }
    const std::string &loaderMessage() const noexcept { return loaderMessage_; }

private:
    std::string path_;
    std::string loaderMessage_;
};

// A loaded module; unloaded when the object goes away, so it must outlive every Host that calls
// into it. Paths are UTF-8 on every platform.
class PluginModule {
public:
    static constexpr const char *kDefaultEntryName = "EntryPointFunc";

    explicit PluginModule(const std::string &path,
                          const std::string &entryName = kDefaultEntryName);
    ~PluginModule();

    PluginModule(PluginModule &&other) noexcept;
    PluginModule &operator=(PluginModule &&other) noexcept;
    PluginModule(const PluginModule &) = delete;
    PluginModule &operator=(const PluginModule &) = delete;

    EntryPoint entryPoint() const noexcept { return entry_; }
    const std::string &path() const noexcept { return path_; }

private:
    void unload() noexcept;

    void *handle_ = nullptr;
    EntryPoint entry_ = nullptr;
    std::string path_;
};

} // namespace framemeld::runner
