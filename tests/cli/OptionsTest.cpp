#include "cli/app/Options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/core/CliError.h"

using framemeld::cli::helpText;
using framemeld::cli::ModuleDefaults;
using framemeld::cli::Options;
using framemeld::cli::parseOptions;
using framemeld::cli::SliderChoice;
using framemeld::cli::UsageError;
using testing::HasSubstr;

namespace {

std::string usageErrorOf(const std::vector<std::string> &args)
{
    try {
        parseOptions(args);
    } catch (const UsageError &error) {
        EXPECT_EQ(error.exitStatus(), 2);
        return error.what();
    }
    ADD_FAILURE() << "no usage error";
    return {};
}

TEST(Options, TakesEveryOptionInBothSpellings)
{
    const Options options = parseOptions({"--start",
                                          "3",
                                          "shot.####.exr",
                                          "--end=40",
                                          "--every",
                                          "4",
                                          "-o",
                                          "plate.exr",
                                          "--divergence",
                                          "2.5",
                                          "--rating-range=1.5",
                                          "--depth",
                                          "16",
                                          "--threads",
                                          "3",
                                          "--plugin",
                                          "/x/Framemeld.so",
                                          "-q",
                                          "--memory",
                                          "1.5G"});
    EXPECT_EQ(options.input, "shot.####.exr");
    EXPECT_EQ(options.output, "plate.exr");
    EXPECT_EQ(options.start, 3.0);
    EXPECT_EQ(options.end, 40.0);
    EXPECT_EQ(options.every, 4.0);
    EXPECT_EQ(options.divergence, SliderChoice::of(2.5));
    EXPECT_EQ(options.ratingRange, SliderChoice::of(1.5));
    EXPECT_EQ(options.depth, 16);
    EXPECT_EQ(options.threads, 3);
    EXPECT_EQ(options.plugin, "/x/Framemeld.so");
    EXPECT_EQ(options.memory, 1536ull << 20);
    EXPECT_TRUE(options.quiet);
    EXPECT_FALSE(options.help);
}

TEST(Options, LeavesUnsetWhatWasNotGiven)
{
    const Options options = parseOptions({"clip.mov", "--output", "plate.png"});
    EXPECT_FALSE(options.start || options.end || options.every || options.depth || options.memory);
    EXPECT_TRUE(options.divergence.isUnset());
    EXPECT_TRUE(options.ratingRange.isUnset());
    EXPECT_EQ(options.threads, 0);
    EXPECT_TRUE(options.plugin.empty());
    EXPECT_FALSE(options.quiet);
}

// `auto` is a word of its own beside the number; the last --divergence given counts.
TEST(Options, DivergenceTakesAutoOrANumber)
{
    const Options automatic = parseOptions({"in.mov", "-o", "p.png", "--divergence=auto"});
    EXPECT_TRUE(automatic.divergence.isAuto());

    const Options numberLast =
        parseOptions({"in.mov", "-o", "p.png", "--divergence", "auto", "--divergence", "4"});
    EXPECT_EQ(numberLast.divergence, SliderChoice::of(4.0));

    const Options autoLast =
        parseOptions({"in.mov", "-o", "p.png", "--divergence", "4", "--divergence", "auto"});
    EXPECT_TRUE(autoLast.divergence.isAuto());

    EXPECT_THROW(parseOptions({"in.mov", "-o", "p.png", "--divergence", "Auto"}), UsageError);

    // --rating-range takes `auto` the same way, apart from --divergence.
    const Options rangeAuto = parseOptions({"in.mov", "-o", "p.png", "--rating-range", "3",
                                            "--rating-range", "auto", "--divergence", "4"});
    EXPECT_TRUE(rangeAuto.ratingRange.isAuto());
    EXPECT_EQ(rangeAuto.divergence, SliderChoice::of(4.0));
    const Options rangeLast =
        parseOptions({"in.mov", "-o", "p.png", "--rating-range=auto", "--rating-range", "3"});
    EXPECT_EQ(rangeLast.ratingRange, SliderChoice::of(3.0));
    EXPECT_THROW(parseOptions({"in.mov", "-o", "p.png", "--rating-range", "AUTO"}), UsageError);
}

TEST(Options, HelpNeedsNeitherInputNorOutput)
{
    EXPECT_TRUE(parseOptions({"--help"}).help);
    EXPECT_TRUE(parseOptions({"-h", "--every", "2"}).help);
    // Syntax is still checked around it.
    EXPECT_THAT(usageErrorOf({"--help", "--every", "x"}), HasSubstr("--every needs a number"));
}

TEST(Options, DoubleDashEndsTheOptions)
{
    const Options options = parseOptions({"-o", "p.png", "--", "-x"});
    EXPECT_EQ(options.input, "-x");
    EXPECT_EQ(options.output, "p.png");
    // After "--" an option's name is a file name too, so two INPUTs here.
    EXPECT_THAT(usageErrorOf({"--", "in.mov", "-o", "p.png"}), HasSubstr("one INPUT expected"));
    EXPECT_THAT(usageErrorOf({"-o", "--"}), HasSubstr("-o needs a value"));
}

TEST(Options, TheLastOfARepeatedOptionCountsAndFlagsMayComeAnywhere)
{
    const Options options = parseOptions({"--json", "in.mov", "-o", "a.png", "--output=b.png",
                                          "--every", "2", "--every=3", "--start", "-5"});
    EXPECT_EQ(options.output, "b.png");
    EXPECT_EQ(options.every, 3.0);
    EXPECT_EQ(options.start, -5.0); // refused later against the clip, with its numbers
    EXPECT_TRUE(options.json);
    EXPECT_TRUE(parseOptions({"--version"}).version);
    EXPECT_THAT(usageErrorOf({"--version=1"}), HasSubstr("--version takes no value"));
}

TEST(Options, RefusesWrongCommandLinesNamingTheOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"in.mov", "-o", "p.png", "--start"}, "--start needs a value"},
        {{"in.mov", "-o"}, "-o needs a value"},
        {{"in.mov", "-o", "p.png", "--end", "ten"}, "--end needs a number, not \"ten\""},
        {{"in.mov", "-o", "p.png", "--every", "2.5"}, "--every needs a whole number"},
        {{"in.mov", "-o", "p.png", "--start", "1e30"}, "--start needs a whole number"},
        {{"in.mov", "-o", "p.png", "--divergence", "nan"}, "--divergence needs a number"},
        {{"in.mov", "-o", "p.png", "--divergence", "inf"}, "--divergence needs a number"},
        {{"in.mov", "-o", "p.png", "--rating-range", ""}, "--rating-range needs a number"},
        {{"in.mov", "-o", "p.png", "--depth", "12"}, "--depth must be 8, 16 or 32"},
        {{"in.mov", "-o", "p.png", "--threads", "0"}, "--threads must be between 1 and 1024"},
        {{"in.mov", "-o", "p.png", "--quiet=yes"}, "--quiet takes no value"},
        {{"in.mov", "-o", "p.png", "--memory", "0"}, "--memory needs a size"},
        {{"in.mov", "-o", "p.png", "--memory=lots"}, "--memory needs a size such as 512M"},
        {{"in.mov", "-o", "p.png", "--memory"}, "--memory needs a value"},
        {{"in.mov", "-o", "p.png", "--rows", "0::5"}, "--rows needs FIRST:END"},
        {{"in.mov", "-o", "p.png", "--rows", "0:10:20"}, "--rows needs FIRST:END"},
        {{"in.mov", "-o", "p.png", "--rows", ":5"}, "--rows needs FIRST:END"},
        {{"in.mov", "-o", "p.png", "--rows", "5:"}, "--rows needs FIRST:END"},
        {{"in.mov", "-o", "p.png", "--rows", "9:3"}, "--rows 9:3 holds no row"},
        {{"in.mov", "-o", "p.png", "--frame", "3"}, "unknown option --frame"},
        {{"-o", "p.png"}, "no INPUT given"},
        {{"a.0001.png", "a.0002.png", "-o", "p.png"}, "quote it"},
        {{"in.mov"}, "no output file given"},
        {{"in.mov", "-o", ""}, "-o needs a file name"},
    };
    for (const auto &[args, expected] : cases) {
        EXPECT_THAT(usageErrorOf(args), HasSubstr(expected))
            << "for " << testing::PrintToString(args);
    }
}

TEST(Options, AlignIsASubcommandThatTakesOnlyWhatChoosesAndRegistersTheFrames)
{
    const Options options =
        parseOptions({"align", "shot.####.exr", "-o", "m.json", "--every", "2", "--reference",
                      "1003", "--depth", "32", "--threads", "2", "--json", "-q"});
    EXPECT_TRUE(options.alignCommand);
    EXPECT_EQ(options.input, "shot.####.exr");
    EXPECT_EQ(options.output, "m.json");
    EXPECT_EQ(options.every, 2.0);
    EXPECT_EQ(options.reference, 1003);
    EXPECT_EQ(options.depth, 32);
    EXPECT_TRUE(options.json && options.quiet);
    // Its own default model; the render's stays unset until given.
    EXPECT_EQ(options.align, framemeld::cli::align::MotionModel::Similarity);
    EXPECT_FALSE(parseOptions({"shot.####.exr", "-o", "p.exr"}).align.has_value());
    EXPECT_EQ(parseOptions({"align", "in.mov", "-o", "m.json", "--align", "perspective"}).align,
              framemeld::cli::align::MotionModel::Perspective);
    // A clip named "align" is still a render's INPUT after "--" or with a path.
    EXPECT_FALSE(parseOptions({"-o", "p.exr", "--", "align"}).alignCommand);
    EXPECT_EQ(parseOptions({"shot.exr", "-o", "p.exr", "--motion", "m.json"}).motion, "m.json");

    EXPECT_THAT(usageErrorOf({"align", "in.mov", "-o", "m.json", "--divergence", "3"}),
                HasSubstr("align: --divergence is an option of the render, not of align"));
    EXPECT_THAT(usageErrorOf({"align", "in.mov", "-o", "m.json", "--motion", "x.json"}),
                HasSubstr("--motion is an option of the render"));
    EXPECT_THAT(usageErrorOf({"align", "in.mov", "-o", "m.json", "--bogus"}),
                HasSubstr("unknown option --bogus"));
    EXPECT_THAT(usageErrorOf({"align", "in.mov"}), HasSubstr("align: no motion file given"));
    EXPECT_THAT(usageErrorOf({"align", "-o", "m.json"}), HasSubstr("align: no INPUT given"));
    EXPECT_THAT(usageErrorOf({"align", "in.mov", "-o", "m.json", "--every"}),
                HasSubstr("--every needs a value"));
    EXPECT_THAT(usageErrorOf({"shot.exr", "-o", "p.exr", "--motion", ""}),
                HasSubstr("--motion needs a motion file"));
}

TEST(Options, HelpListsEveryOptionWithItsDefault)
{
    const std::string withModule = helpText("framemeld", ModuleDefaults{2.0, 1.5});
    for (const char *option :
         {"-o, --output", "--start N", "--end N", "--every N", "--divergence D", "--rating-range R",
          "--depth 8|16|32", "--threads N", "--memory SIZE", "--plugin PATH", "--quiet", "--help",
          "--json", "--version"}) {
        EXPECT_THAT(withModule, HasSubstr(option));
    }
    EXPECT_THAT(withModule, HasSubstr("(default: the clip's first frame)"));
    EXPECT_THAT(withModule, HasSubstr("numbers in the file names"));
    EXPECT_THAT(withModule, HasSubstr("(default: the clip's last frame)"));
    EXPECT_THAT(withModule, HasSubstr("(default: 1)"));
    EXPECT_THAT(withModule, HasSubstr("auto (the default)"));
    EXPECT_THAT(withModule, HasSubstr("own default: 2)")); // divergence, from the module
    EXPECT_THAT(withModule, HasSubstr("otherwise 1.5)"));  // rating range, from the module
    EXPECT_THAT(withModule, HasSubstr("Exit status"));

    const std::string withoutModule = helpText("framemeld", std::nullopt);
    EXPECT_THAT(withoutModule, HasSubstr("otherwise the plug-in's default)"));
    EXPECT_THAT(withoutModule, testing::Not(HasSubstr("own default: the plug-in's default")));
}

} // namespace
