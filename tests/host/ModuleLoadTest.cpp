// Loads the built module the way the host does and checks that it answers through the one
// symbol it exports.
#include "AE_Effect.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

namespace {

using EntryPoint = PF_Err (*)(PF_Cmd, PF_InData *, PF_OutData *, PF_ParamDef *[], PF_LayerDef *,
                              void *);

class LoadedModule {
public:
    LoadedModule() : handle_(dlopen(FRAMEMELD_MODULE_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedModule()
    {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    void *handle() const { return handle_; }

private:
    void *handle_;
};

TEST(Module, LoadsAndAnswersGlobalSetupThroughEntryPointFunc)
{
    LoadedModule module;
    ASSERT_NE(module.handle(), nullptr) << dlerror();
    void *symbol = dlsym(module.handle(), "EntryPointFunc");
    ASSERT_NE(symbol, nullptr) << dlerror();
    EntryPoint entry;
    std::memcpy(&entry, &symbol, sizeof entry);

    PF_InData in;
    PF_OutData out;
    std::memset(&in, 0, sizeof in);
    std::memset(&out, 0, sizeof out);
    EXPECT_EQ(entry(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(out.my_version, 0x00110601u);
    EXPECT_EQ(out.out_flags, 0x06000400);
    EXPECT_EQ(out.out_flags2, 0x00001400);

    // Internal functions stay out of reach, also under their plain C names.
    EXPECT_EQ(dlsym(module.handle(), "GetStringPtr"), nullptr);
}

} // namespace
