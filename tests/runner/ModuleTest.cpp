#include "runner/PluginModule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

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

// The loader maps what the headers promise whether or not the file holds it; a copy cut short
// used to end the process with SIGBUS inside dlopen.
TEST(PluginModule, ATruncatedModuleIsRefusedBeforeItIsMapped)
{
    std::ifstream original(FRAMEMELD_TINY_EFFECT_PATH, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(original)),
                                  std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 4096U);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("framemeld-truncated-" + std::to_string(getpid()) + ".so"))
                                 .string();
    for (const std::size_t keep : {bytes.size() / 2, bytes.size() - 1, std::size_t{100}}) {
        {
            std::ofstream cut(path, std::ios::binary | std::ios::trunc);
            cut.write(bytes.data(), static_cast<std::streamsize>(keep));
        }
        try {
            PluginModule module(path);
            ADD_FAILURE() << "a module cut to " << keep << " bytes loaded";
        } catch (const ModuleLoadError &error) {
            EXPECT_NE(error.loaderMessage().find("truncated"), std::string::npos)
                << keep << " bytes: " << error.loaderMessage();
        }
    }
    std::filesystem::remove(path);
}

} // namespace
