// The rules a Windows effect module is judged by, on images described in code: each fault
// alone must be reported, and a sound image must pass untouched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "packaging/aex_check/AexCheck.h"

namespace {

using framemeld::packaging::AexExpectations;
using framemeld::packaging::CheckAex;
using framemeld::packaging::IsWindowsSystemDll;
using framemeld::packaging::PeImage;
using framemeld::packaging::PeResource;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::vector<std::uint8_t> kPipl = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00};

AexExpectations Expected()
{
    AexExpectations expected;
    expected.pipl = kPipl;
    return expected;
}

PeImage SoundImage()
{
    PeImage image;
    image.machine = framemeld::packaging::kMachineAmd64;
    image.optionalHeaderMagic = framemeld::packaging::kOptionalHeaderPe32Plus;
    image.characteristics = framemeld::packaging::kCharacteristicDll | 0x0022;
    image.exports = {"EntryPointFunc"};
    image.imports = {"KERNEL32.dll", "msvcrt.dll"};
    image.resources = {{"#16", "#1", 1033, {1, 2, 3}}, {"PIPL", "#16000", 1033, kPipl}};
    return image;
}

TEST(AexCheck, ASoundModulePasses)
{
    EXPECT_THAT(CheckAex(SoundImage(), Expected()), IsEmpty());
}

TEST(AexCheck, ReportsTheWrongKindOfImage)
{
    PeImage image = SoundImage();
    image.machine = 0x014c; // 32-bit x86
    image.optionalHeaderMagic = 0x10b;
    image.characteristics = 0x0102; // an executable, not a DLL
    const auto problems = CheckAex(image, Expected());
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_THAT(problems[0], HasSubstr("0x014C, not x64"));
    EXPECT_THAT(problems[1], HasSubstr("PE32+"));
    EXPECT_THAT(problems[2], HasSubstr("not a DLL"));
}

TEST(AexCheck, AcceptsExactlyTheEntryPointAsExport)
{
    for (const std::vector<std::string> &exports : {std::vector<std::string>{},
                                                    {"EntryPointFunc", "GetStringPtr"},
                                                    {"EntryPointFunc", "#7"},
                                                    {"entrypointfunc"},
                                                    {"EffectMain"}}) {
        PeImage image = SoundImage();
        image.exports = exports;
        const auto problems = CheckAex(image, Expected());
        ASSERT_EQ(problems.size(), 1u) << ::testing::PrintToString(exports);
        EXPECT_THAT(problems[0], HasSubstr("expected exactly EntryPointFunc"));
    }
}

TEST(AexCheck, ReportsEveryImportThatIsNotWindows)
{
    PeImage image = SoundImage();
    image.imports = {"KERNEL32.dll", "libstdc++-6.dll", "USER32.dll", "libgcc_s_seh-1.dll",
                     "libwinpthread-1.dll"};
    EXPECT_THAT(CheckAex(image, Expected()),
                ElementsAre(HasSubstr("libstdc++-6.dll"), HasSubstr("libgcc_s_seh-1.dll"),
                            HasSubstr("libwinpthread-1.dll")));
}

TEST(AexCheck, WindowsSystemDllsAreKnownWithoutRegardToCase)
{
    for (const char *dll :
         {"KERNEL32.dll", "kernel32.DLL", "msvcrt.dll", "USER32.dll", "ucrtbase.dll",
          "api-ms-win-crt-runtime-l1-1-0.dll", "API-MS-WIN-CRT-HEAP-L1-1-0.DLL"}) {
        EXPECT_TRUE(IsWindowsSystemDll(dll)) << dll;
    }
    for (const char *dll :
         {"libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll", "vcruntime140.dll",
          "kernel32.dll.bak", "kernel32", "api-ms-win-", "xkernel32.dll", ""}) {
        EXPECT_FALSE(IsWindowsSystemDll(dll)) << dll;
    }
}

TEST(AexCheck, ThePiplMustBeThereOnce)
{
    PeImage none = SoundImage();
    none.resources.pop_back();
    EXPECT_THAT(CheckAex(none, Expected()), ElementsAre(HasSubstr("has 0 PIPL resources")));

    PeImage twice = SoundImage();
    twice.resources.push_back({"PIPL", "#16001", 1033, kPipl});
    const auto problems = CheckAex(twice, Expected());
    ASSERT_FALSE(problems.empty());
    EXPECT_THAT(problems[0], HasSubstr("has 2 PIPL resources"));
    EXPECT_THAT(problems,
                ::testing::Contains(HasSubstr("#16001 (language 1033): id is not #16000")));
}

TEST(AexCheck, ReportsEachWayThePiplResourceCanBeMisplaced)
{
    PeImage image = SoundImage();
    image.resources.back() = {"PiPL", "#16001", 0, kPipl};
    EXPECT_THAT(CheckAex(image, Expected()),
                ElementsAre(HasSubstr("type not written as PIPL"), HasSubstr("id is not #16000"),
                            HasSubstr("language is not 1033")));
}

TEST(AexCheck, NamesWhereThePiplBytesFirstDiffer)
{
    PeImage changed = SoundImage();
    changed.resources.back().data[6] = 0x0D;
    EXPECT_THAT(CheckAex(changed, Expected()),
                ElementsAre(HasSubstr("first difference at byte 6 (0x0D instead of 0x0C)")));

    PeImage shorter = SoundImage();
    shorter.resources.back().data.resize(5);
    EXPECT_THAT(CheckAex(shorter, Expected()),
                ElementsAre(HasSubstr("5 bytes, expected 8; first difference at byte 5")));
}

} // namespace
