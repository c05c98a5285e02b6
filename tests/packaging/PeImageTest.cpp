// The PE reader on real modules made by the mingw-w64 cross compiler (see CMakeLists.txt), and on
// damaged copies of them: it must find what the host would find, and refuse broken files
// without reading past their end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "packaging/aex_check/AexCheck.h"
#include "packaging/aex_check/PeImage.h"

namespace {

using namespace framemeld::packaging;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using Bytes = std::vector<std::uint8_t>;

class PeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(FRAMEMELD_GOOD_MODULE).empty()) {
            GTEST_SKIP() << "no mingw-w64 cross compiler: the module fixtures were not built";
        }
    }

    static AexExpectations Expected()
    {
        AexExpectations expected;
        expected.pipl = ReadFileBytes(FRAMEMELD_PIPL_WIN_BIN);
        return expected;
    }
};

TEST_F(PeFixture, ReadsWhatTheHostSeesInAWellFormedModule)
{
    const PeImage image = ReadPeImage(ReadFileBytes(FRAMEMELD_GOOD_MODULE));
    EXPECT_EQ(image.machine, kMachineAmd64);
    EXPECT_EQ(image.optionalHeaderMagic, kOptionalHeaderPe32Plus);
    EXPECT_TRUE(image.isDll());
    EXPECT_THAT(image.exports, ElementsAre("EntryPointFunc"));
    EXPECT_THAT(image.imports, Contains("KERNEL32.dll"));

    ASSERT_EQ(image.resources.size(), 1u);
    EXPECT_EQ(image.resources[0].type, "PIPL");
    EXPECT_EQ(image.resources[0].name, "#16000");
    EXPECT_EQ(image.resources[0].language, 1033u);
    EXPECT_EQ(image.resources[0].data, ReadFileBytes(FRAMEMELD_PIPL_WIN_BIN));

    EXPECT_THAT(CheckAex(image, Expected()), IsEmpty());
}

TEST_F(PeFixture, ReportsEveryFaultOfAFaultyModule)
{
    const PeImage image = ReadPeImage(ReadFileBytes(FRAMEMELD_BAD_MODULE));
    EXPECT_THAT(image.exports, ElementsAre("EntryPointFunc", "HelperFunc", "#7"));
    EXPECT_THAT(image.imports, Contains("libstdc++-6.dll"));
    ASSERT_EQ(image.resources.size(), 1u);
    EXPECT_EQ(image.resources[0].language, 0u);

    const auto problems = CheckAex(image, Expected());
    EXPECT_THAT(problems, Contains(HasSubstr("exports EntryPointFunc, HelperFunc, #7")));
    EXPECT_THAT(problems, Contains(HasSubstr("imports libstdc++-6.dll")));
    EXPECT_THAT(problems, Contains(HasSubstr("language is not 1033")));
    EXPECT_THAT(problems, Contains(HasSubstr("bytes differ from the generator's: 10 bytes")));
}

// Every prefix of the file: the reader either reads it or throws PeFormatError. Under
// AddressSanitizer a read past the end fails the test.
TEST_F(PeFixture, RefusesTruncatedFilesCleanly)
{
    const Bytes whole = ReadFileBytes(FRAMEMELD_GOOD_MODULE);
    int refused = 0;
    for (std::size_t length = 0; length < whole.size(); length += length < 1024 ? 1 : 61) {
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        try {
            ReadPeImage(prefix);
        } catch (const PeFormatError &) {
            ++refused;
        }
    }
    // Headers, tables and resources all sit before the end, so short prefixes cannot pass.
    EXPECT_GE(refused, 1024);
}

// Each byte overwritten in turn (headers, export, import and resource tables alike): any
// outcome but a crash, a hang or another exception type is fine.
TEST_F(PeFixture, SurvivesDamagedBytes)
{
    const Bytes whole = ReadFileBytes(FRAMEMELD_GOOD_MODULE);
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
            Bytes damaged = whole;
            damaged[at] = value;
            try {
                ReadPeImage(damaged);
            } catch (const PeFormatError &) {
            }
        }
    }
    // The untouched file still reads.
    EXPECT_NO_THROW(ReadPeImage(whole));
}

TEST(PeImage, RefusesFilesThatAreNotPeImages)
{
    EXPECT_THROW(ReadPeImage({}), PeFormatError);
    Bytes elf(256, 0);
    elf[0] = 0x7F;
    elf[1] = 'E';
    elf[2] = 'L';
    elf[3] = 'F';
    EXPECT_THROW(ReadPeImage(elf), PeFormatError);
    // An MZ header whose PE offset points past the end.
    Bytes mz(128, 0);
    mz[0] = 'M';
    mz[1] = 'Z';
    mz[0x3C] = 0xF0;
    EXPECT_THROW(ReadPeImage(mz), PeFormatError);
}

} // namespace
