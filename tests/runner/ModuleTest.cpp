#include "runner/PluginModule.h"

#include <gtest/gtest.h>

using namespace framemeld::runner;

namespace {

TEST(PluginModule, LoadsTheModuleAndFindsItsEntryPoint)
{
    PluginModule module(FRAMEMELD_TINY_EFFECT_PATH);
    EXPECT_NE(module.entryPoint(), nullptr);
    EXPECT_EQ(module.path(), FRAMEMELD_TINY_EFFECT_PATH);

    PluginModule moved(std::move(module));
    EXPECT_NE(moved.entryPoint(), nullptr);
    EXPECT_EQ(module.entryPoint(), nullptr); // NOLINT(bugprone-use-after-move)
}

TEST(PluginModule, AMissingFileIsAnErrorNamingThePathAndTheLoadersReason)
{
    const std::string path = "/nonexistent/dir/NoSuchEffect.so";
    try {
        PluginModule module(path);
        FAIL() << "loading a missing module succeeded";
    } catch (const ModuleLoadError &error) {
        EXPECT_EQ(error.path(), path);
        EXPECT_FALSE(error.loaderMessage().empty());
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
        EXPECT_NE(std::string(error.what()).find(error.loaderMessage()), std::string::npos);
    }
}

TEST(PluginModule, AModuleWithoutTheEntryPointIsAnErrorNamingTheSymbol)
{
    try {
        PluginModule module(FRAMEMELD_TINY_EFFECT_PATH, "EffectMain");
        FAIL() << "a missing entry point was found";
    } catch (const ModuleLoadError &error) {
        EXPECT_NE(error.loaderMessage().find("EffectMain"), std::string::npos);
        EXPECT_EQ(error.path(), FRAMEMELD_TINY_EFFECT_PATH);
    }
}

} // namespace
