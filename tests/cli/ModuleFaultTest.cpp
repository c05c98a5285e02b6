// Modules that crash, exit or are cut short, run under the real framemeld program: each failure is
// reported as the module's, naming what it was running, with the module-fault exit status and no
// plate; --help comes out whatever the module does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace {

constexpr int kModuleFaultStatus = 3;

std::string faultyModule(const std::string &name)
{
    return std::string(FRAMEMELD_FAULTY_MODULE_DIR) + "/faulty_" + name + ".so";
}

std::string writeFootage(const TempDir &dir)
{
    const std::vector<std::uint8_t> rgb(8 * 6 * 3, 90);
    for (int f = 0; f < 3; ++f) {
        writeImage(dir.file("shot." + std::to_string(1000 + f) + ".png"), 8, 6, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
    return dir.file("shot.####.png");
}

// The first `keep` bytes of the real module, as an interrupted copy leaves it.
std::string truncatedModule(const TempDir &dir, double keepShare)
{
    std::ifstream original(modulePath(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(original)),
                                  std::istreambuf_iterator<char>());
    const std::string path = dir.file("Framemeld-cut.so");
    std::ofstream cut(path, std::ios::binary);
    cut.write(bytes.data(),
              static_cast<std::streamsize>(static_cast<double>(bytes.size()) * keepShare));
    return path;
}

struct Fault {
    std::string module;
    std::string command; // what the message must name
    std::string how;
};

TEST(ModuleFaults, ACrashOrExitInsideTheModuleIsTheModulesFailure)
{
    TempDir in;
    const std::string footage = writeFootage(in);
    const std::vector<Fault> faults = {
        {"segfault_render", "while running PF_Cmd_SMART_RENDER", "crashed (SIGSEGV"},
        {"worker_segfault_render", "while running PF_Cmd_SMART_RENDER", "crashed (SIGSEGV"},
        {"exit_global_setup", "while running PF_Cmd_GLOBAL_SETUP", "ended the program with exit()"},
        {"abort_params_setup", "while running PF_Cmd_PARAMS_SETUP", "crashed (SIGABRT"},
    };
    for (const Fault &fault : faults) {
        TempDir out;
        const std::string module = faultyModule(fault.module);
        const auto run = runFramemeld({footage, "-o", out.file("plate.png"), "--plugin", module});
        EXPECT_EQ(run.exitStatus, kModuleFaultStatus) << fault.module << ":\n" << run.output;
        EXPECT_THAT(run.output,
                    HasSubstr("framemeld: the plug-in module " + module + " " + fault.how))
            << fault.module;
        EXPECT_THAT(run.output, HasSubstr(fault.command)) << fault.module;
        EXPECT_THAT(out.entries(), IsEmpty()) << fault.module << " left output";
    }
}

TEST(ModuleFaults, AnErrorCodeIsShownByItsSdkNameAndMeaning)
{
    TempDir in, out;
    const auto run = runFramemeld({writeFootage(in), "-o", out.file("plate.png"), "--plugin",
                                   faultyModule("out_of_memory_render")});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("PF_Cmd_SMART_RENDER returned PF_Err_OUT_OF_MEMORY (out of "
                                      "memory; code 4)"));
    EXPECT_THAT(out.entries(), IsEmpty());
}

TEST(ModuleFaults, ATruncatedModuleIsRefusedBeforeItIsLoaded)
{
    TempDir in, out;
    const std::string footage = writeFootage(in);
    for (const double keep : {0.5, 0.98}) {
        const std::string module = truncatedModule(in, keep);
        const auto run = runFramemeld({footage, "-o", out.file("plate.png"), "--plugin", module});
        EXPECT_EQ(run.exitStatus, 1) << keep << ":\n" << run.output;
        EXPECT_THAT(run.output, HasSubstr("cannot load the plug-in module '" + module +
                                          "': the file is truncated or damaged"));
        EXPECT_THAT(out.entries(), IsEmpty());
    }
}

TEST(ModuleFaults, HelpComesOutWhateverTheModuleDoesWhileItLoads)
{
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> modules = {
        {faultyModule("exit_global_setup"), "while running PF_Cmd_GLOBAL_SETUP"},
        {faultyModule("abort_params_setup"), "while running PF_Cmd_PARAMS_SETUP"},
        {truncatedModule(dir, 0.5), ""},
    };
    for (const auto &[module, report] : modules) {
        const auto run = runFramemeld({"--help", "--plugin", module});
        EXPECT_EQ(run.exitStatus, 0) << module << ":\n" << run.output;
        EXPECT_THAT(run.output, HasSubstr("Usage: framemeld INPUT -o OUTPUT")) << module;
        EXPECT_THAT(run.output, HasSubstr("the plug-in's default")) << module;
        EXPECT_THAT(run.output, HasSubstr("3 the plug-in module crashed or exited")) << module;
        EXPECT_THAT(run.output, HasSubstr(report)) << module;
    }
    // A module that works still gives its defaults.
    const auto good = runFramemeld({"--help", "--plugin", modulePath()});
    EXPECT_EQ(good.exitStatus, 0);
    EXPECT_THAT(good.output, HasSubstr("own default: 2)")); // Divergence, beside auto
    EXPECT_THAT(good.output, Not(HasSubstr("the plug-in's default")));
}

// --version loads the module too, so its faults are the module's as well: never a silent success
// with nothing printed. The tool's own line still comes out first.
TEST(ModuleFaults, VersionReportsTheModulesFaultAfterTheToolsOwnLine)
{
    const std::vector<Fault> faults = {
        {"exit_global_setup", "while running PF_Cmd_GLOBAL_SETUP", "ended the program with exit()"},
        {"abort_params_setup", "while running PF_Cmd_PARAMS_SETUP", "crashed (SIGABRT"},
    };
    for (const Fault &fault : faults) {
        const std::string module = faultyModule(fault.module);
        const auto run = runFramemeld({"--version", "--plugin", module});
        EXPECT_EQ(run.exitStatus, kModuleFaultStatus) << fault.module << ":\n" << run.output;
        EXPECT_THAT(run.output, HasSubstr("framemeld " FRAMEMELD_PROJECT_VERSION "\n"));
        EXPECT_THAT(run.output,
                    HasSubstr("framemeld: the plug-in module " + module + " " + fault.how))
            << fault.module;
        EXPECT_THAT(run.output, HasSubstr(fault.command + "; its version is not known"))
            << fault.module;
    }
}

// The name is checked in the current folder, so it must be loaded from there too, not from the
// library search path where a system library of that name lives.
TEST(ModuleFaults, APluginNameWithoutASlashIsAFileInTheCurrentFolder)
{
    TempDir in, out;
    const std::string footage = writeFootage(in);
    std::filesystem::copy_file(modulePath(), in.file("libm.so.6"));
    const std::string command = "cd '" + in.path() + "' && exec '" + framemeldPath() + "' '" +
                                footage + "' -o '" + out.file("plate.png") +
                                "' --quiet --plugin libm.so.6";
    const auto run = runProgram({"/bin/sh", "-c", command});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(fileExists(out.file("plate.png")));
}

} // namespace
