// framemeld_describe loads whatever module it is given and runs its code, so its own options must
// never be taken for a module file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

using testing::HasSubstr;
using testing::Not;

namespace {

struct Outcome {
    int status = -1;
    std::string output; // stdout and stderr together
};

Outcome describe(const std::string &arguments)
{
    const std::string command =
        std::string("'") + FRAMEMELD_DESCRIBE_PATH + "' " + arguments + " 2>&1";
    Outcome outcome;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return outcome;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        outcome.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

TEST(DescribeTool, HelpIsAnsweredAndOtherOptionsRefusedWithoutLoadingAnything)
{
    for (const char *help : {"--help", "-h"}) {
        const Outcome outcome = describe(help);
        EXPECT_EQ(outcome.status, 0) << help;
        EXPECT_THAT(outcome.output, HasSubstr("usage:")) << help;
        EXPECT_THAT(outcome.output, Not(HasSubstr("cannot"))) << outcome.output;
    }
    const Outcome unknown = describe("--verbose");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.output, HasSubstr("unknown option --verbose"));
    EXPECT_EQ(describe("").status, 2);
    EXPECT_EQ(describe("a.so b.so").status, 2);
}

TEST(DescribeTool, AModuleIsListedAndADoubleDashComesBeforeOneNamedLikeAnOption)
{
    const Outcome listed = describe(std::string("-- '") + FRAMEMELD_TINY_EFFECT_PATH + "'");
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_THAT(listed.output, HasSubstr("num_params"));
    const Outcome missing = describe("-- --help");
    EXPECT_EQ(missing.status, 1) << "a file named --help, which is not there";
}

} // namespace
