#include "cli/plate/PlateWriter.h"
#include "cli/plate/OutputChecks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/plate/TemporaryPlateFile.h"
#include "cli/text/PrintableText.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

PlateFileOptions optionsOf(bool withAlpha, bool unassociatedAlpha)
{
    PlateFileOptions options;
    options.withAlpha = withAlpha;
    options.unassociatedAlpha = unassociatedAlpha;
    return options;
}

PlateImage viewOf(const World &world)
{
    PlateImage plate;
    plate.width = world.width();
    plate.height = world.height();
    plate.depth = world.depth();
    plate.pixels = world.row(0);
    plate.rowBytes = world.rowStride();
    return plate;
}

TEST(PlateWriter, AFormatWithoutFloatGetsTheNearestDepth)
{
    TempDir dir;
    World plate(1, 1, PixelDepth::Float32);
    plate.at<PF_PixelFloat>(0, 0) = PF_PixelFloat{1.0f, 0.5f, -1.0f, 3.0f};
    writePlate(dir.file("p.png"), viewOf(plate), PlateFileOptions{}, nullptr);
    int w = 0, h = 0, c = 0;
    OIIO::TypeDesc stored;
    const auto samples = test::readSamples<std::uint16_t>(dir.file("p.png"), w, h, c, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::UINT16) << "PNG holds 16 bits, not 8";
    EXPECT_THAT(samples, ElementsAre(32768, 0, 65535)); // 0.5 rounds up; outside 0..1 clipped
}

TEST(PlateWriter, SixteenBitPlatesGoBackToTheFileScale)
{
    TempDir dir;
    World plate(2, 1, PixelDepth::Bits16);
    plate.at<PF_Pixel16>(0, 0) = PF_Pixel16{32768, 0, 1, 16384};
    plate.at<PF_Pixel16>(1, 0) = PF_Pixel16{100, 32768, 20000, 3};
    writePlate(dir.file("p.tif"), viewOf(plate), optionsOf(true, true), nullptr);

    int w = 0, h = 0, c = 0;
    OIIO::TypeDesc stored;
    const auto samples = test::readSamples<std::uint16_t>(dir.file("p.tif"), w, h, c, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::UINT16);
    ASSERT_EQ(c, 4);
    EXPECT_THAT(samples, ElementsAre(0, 2, 32768, 65535, 65535, 39999, 6, 200));
    auto tiff = OIIO::ImageInput::open(dir.file("p.tif"));
    ASSERT_TRUE(tiff);
    EXPECT_EQ(tiff->spec().get_string_attribute("compression"), "zip")
        << "TIFF plates are deflated";

    // In EXR the same plate is stored as float with the host's 32768 as 1.0, exactly.
    writePlate(dir.file("p.exr"), viewOf(plate), optionsOf(true, false), nullptr);
    const auto floats = test::readSamples<float>(dir.file("p.exr"), w, h, c, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::FLOAT);
    EXPECT_EQ(floats[1], 1.0f / 32768.0f);
    EXPECT_EQ(floats[2], 0.5f);
    EXPECT_EQ(floats[5], 20000.0f / 32768.0f);
}

TEST(PlateWriter, FloatPlatesAreStoredUnclippedAndAlphaOnlyWhenWanted)
{
    TempDir dir;
    World plate(1, 2, PixelDepth::Float32);
    plate.at<PF_PixelFloat>(0, 0) = PF_PixelFloat{0.5f, -0.25f, 1.5f, 0.125f};
    plate.at<PF_PixelFloat>(0, 1) = PF_PixelFloat{1.0f, 0.0f, 0.75f, 2.0f};
    writePlate(dir.file("p.exr"), viewOf(plate), optionsOf(false, false), nullptr);
    int w = 0, h = 0, c = 0;
    const auto samples = test::readSamples<float>(dir.file("p.exr"), w, h, c);
    EXPECT_EQ(c, 3);
    EXPECT_THAT(samples, ElementsAre(-0.25f, 1.5f, 0.125f, 0.0f, 0.75f, 2.0f));

    // JPEG holds no alpha, whatever the footage had.
    writePlate(dir.file("p.jpg"), viewOf(plate), optionsOf(true, false), nullptr);
    test::readSamples<std::uint8_t>(dir.file("p.jpg"), w, h, c);
    EXPECT_EQ(c, 3);
    EXPECT_THAT(dir.entries(), ElementsAre("p.exr", "p.jpg"));
}

TEST(PlateWriter, EightBitPlatesKeepTheirValuesAndStraightAlpha)
{
    TempDir dir;
    World plate(2, 1, PixelDepth::Bits8);
    plate.at<PF_Pixel8>(0, 0) = PF_Pixel8{128, 200, 100, 50};
    plate.at<PF_Pixel8>(1, 0) = PF_Pixel8{0, 7, 8, 9};
    writePlate(dir.file("p.png"), viewOf(plate), optionsOf(true, true), nullptr);
    int w = 0, h = 0, c = 0;
    const auto samples = test::readSamples<std::uint8_t>(dir.file("p.png"), w, h, c);
    EXPECT_THAT(samples, ElementsAre(200, 100, 50, 128, 7, 8, 9, 0));
}

TEST(PlateWriter, NothingIsLeftWhenCancelledOrUnwritable)
{
    TempDir dir;
    World plate(3, 3, PixelDepth::Bits8);
    std::atomic<bool> cancel{true};
    EXPECT_THROW(writePlate(dir.file("p.png"), viewOf(plate), {}, &cancel), CancelledError);
    EXPECT_THAT(dir.entries(), IsEmpty()) << "neither the plate nor its temporary file";

    std::ofstream(dir.file("file")) << "a file, not a folder";
    try {
        writePlate(dir.file("file/p.png"), viewOf(plate), {}, nullptr);
        FAIL() << "wrote into a file";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(dir.file("file/p.png") + ": cannot write the output"));
    }
    EXPECT_THAT(dir.entries(), ElementsAre("file"));

    // An existing plate is replaced whole.
    std::ofstream(dir.file("old.png")) << "old";
    writePlate(dir.file("old.png"), viewOf(plate), {}, nullptr);
    int w = 0, h = 0, c = 0;
    test::readSamples<std::uint8_t>(dir.file("old.png"), w, h, c);
    EXPECT_EQ(w, 3);
    EXPECT_THAT(dir.entries(), ElementsAre("file", "old.png"));
}

// The temporary file's name was once ".<stem>.framemeld-<pid>.<ext>": a link planted there made
// the run overwrite the link's target. However it is named now, a planted link is never followed.
TEST(PlateWriter, ALinkAtTheTemporaryNameIsNeverFollowed)
{
    TempDir dir;
    World plate(3, 2, PixelDepth::Bits8);
    std::ofstream(dir.file("victim")) << "precious";
    for (const char *name : {"p.png", "p.tif"}) {
        const std::string stem = std::filesystem::path(name).stem().string();
        const std::string ext = std::filesystem::path(name).extension().string();
        std::filesystem::create_symlink(
            dir.file("victim"),
            dir.file("." + stem + ".framemeld-" + std::to_string(getpid()) + ext));
        const mode_t mask = umask(027);
        writePlate(dir.file(name), viewOf(plate), {}, nullptr);
        umask(mask);
        struct stat status {};
        ASSERT_EQ(lstat(dir.file(name).c_str(), &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
        EXPECT_EQ(status.st_mode & 0777, 0640u) << name << ": 0666 less the umask";
    }
    std::ifstream victim(dir.file("victim"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "precious");
    EXPECT_EQ(dir.entries().size(), 5u) << "the plates, the victim and the two links";
}

TEST(PlateWriter, TemporaryNamesStayWithinTheNameLimitAndAreEscapedInMessages)
{
    const std::string random(16, 'a');
    EXPECT_EQ(temporaryPlateName("plate.exr", random), ".plate.framemeld-" + random + ".exr");
    const std::string longest = std::string(251, 'p') + ".exr";
    const std::string shortened = temporaryPlateName(longest, random);
    EXPECT_EQ(shortened.size(), static_cast<std::size_t>(NAME_MAX));
    EXPECT_EQ(shortened.substr(shortened.size() - 4), ".exr");
    // Two-byte characters are never cut in half.
    std::string wide;
    for (int i = 0; i < 125; ++i) {
        wide += "\xc3\xa9";
    }
    const std::string cut = temporaryPlateName(wide + ".png", random);
    EXPECT_LE(cut.size(), static_cast<std::size_t>(NAME_MAX));
    EXPECT_EQ(cut.substr(1, cut.find(".framemeld-") - 1).size() % 2, 0u);

    EXPECT_EQ(printableText("a\nb\tc\x1b[0m\x7f\xc2\x9b\xc3\xa9"),
              "a\\nb\\tc\\x1b[0m\\x7f\\xc2\\x9b\xc3\xa9");
}

TEST(PlateWriter, TheOutputIsCheckedBeforeAnyWork)
{
    TempDir dir;
    EXPECT_NO_THROW(checkOutputPath(dir.file("plate.exr")));
    EXPECT_THROW(checkOutputPath(dir.file("plate.unknownformat")), UsageError);
    EXPECT_THROW(checkOutputPath(dir.file("plate")), UsageError);
    try {
        checkOutputPath(dir.file("missing/plate.png"));
        FAIL() << "a missing folder was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(),
                    HasSubstr("missing/plate.png: cannot write the output, the folder"));
    }
    EXPECT_THROW(checkOutputPath(dir.path() + "/"), CliError);
}

} // namespace
