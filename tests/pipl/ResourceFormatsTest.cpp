// The containers around the PiPL: the macOS resource file, the Windows resource script (read
// back by our own parser and, where available, by a real resource compiler) and the bundle's
// PkgInfo and Info.plist.
#include "PiplReader.h"
#include "pipl/BundleFiles.h"
#include "pipl/PiplProperty.h"
#include "pipl/ResourceFile.h"
#include "pipl/ResourceScript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size)
{
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return data;
}

TEST(ResourceFile, MatchesTheKnownLayoutForOnePiPL)
{
    const Bytes data = Pattern(356);
    const Bytes file =
        framemeld::pipl::SingleResourceFile(framemeld::pipl::FourCharCode("PiPL"), 16000, data);
    ASSERT_EQ(file.size(), 666u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 16),
              (Bytes{0, 0, 1, 0, 0, 0, 2, 0x68, 0, 0, 1, 0x68, 0, 0, 0, 0x32}));
    for (std::size_t i = 16; i < 256; ++i) {
        ASSERT_EQ(file[i], 0) << "reserved byte " << i;
    }
    // Type list right after the 28-byte map header; reference list 10 bytes into it.
    const Bytes typeAndRef(file.begin() + 0x268 + 28, file.end());
    EXPECT_EQ(typeAndRef,
              (Bytes{0,    0,    'P',  'i',  'P', 'L', 0, 0, 0, 10, // one type, one resource
                     0x3E, 0x80, 0xFF, 0xFF, 0,   0,   0, 0, 0, 0,  0, 0}));
}

TEST(ResourceFile, ReadsBackThroughAnIndependentReader)
{
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{1000}}) {
        const Bytes data = Pattern(size);
        const auto resources =
            framemeld::piplread::ReadResourceFile(framemeld::pipl::SingleResourceFile(
                framemeld::pipl::FourCharCode("PiPL"), 16000, data));
        ASSERT_EQ(resources.size(), 1u);
        EXPECT_EQ(resources[0].type, framemeld::piplread::Key("PiPL"));
        EXPECT_EQ(resources[0].id, 16000);
        EXPECT_FALSE(resources[0].named);
        EXPECT_EQ(resources[0].attributes, 0);
        EXPECT_EQ(resources[0].data, data);
    }
}

TEST(ResourceScript, DeclaresOnePiplResourceHoldingExactlyTheBytes)
{
    // All 256 byte values, including NUL and quote characters, must survive.
    Bytes data(256);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    const auto resources =
        framemeld::piplread::ReadResourceScript(framemeld::pipl::WindowsResourceScript(data));
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].id, "16000");
    EXPECT_EQ(resources[0].type, "PIPL");
    EXPECT_EQ(resources[0].language, 1033);
    EXPECT_EQ(resources[0].data, data);
}

// Compiles a resource script with windres when the build found one, and returns the .res.
Bytes CompileWithWindres(const std::string &script, const std::string &stem)
{
    const std::string rc = stem + ".rc";
    const std::string res = stem + ".res";
    std::ofstream(rc, std::ios::binary) << script;
    const std::string command =
        std::string("\"") + FRAMEMELD_WINDRES + "\" -i \"" + rc + "\" -O res -o \"" + res + "\"";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("windres failed: " + command);
    }
    Bytes bytes = framemeld::piplread::ReadFileBytes(res);
    std::remove(rc.c_str());
    std::remove(res.c_str());
    return bytes;
}

TEST(ResourceScript, ResourceCompilerStoresExactlyTheBytes)
{
    if (std::string(FRAMEMELD_WINDRES).empty()) {
        GTEST_SKIP() << "no windres on this machine";
    }
    const Bytes data = Pattern(37); // odd size: nothing may be added at the end
    const auto entries = framemeld::piplread::ReadRes(
        CompileWithWindres(framemeld::pipl::WindowsResourceScript(data), "resource_script_test"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, "PIPL");
    EXPECT_EQ(entries[0].name, "#16000");
    EXPECT_EQ(entries[0].language, 1033);
    EXPECT_EQ(entries[0].data, data);
}

TEST(BundleFiles, PkgInfoIsEightBytesWithoutLineEnd)
{
    EXPECT_EQ(framemeld::pipl::PkgInfo(), std::string("eFKTFXTC"));
}

TEST(BundleFiles, InfoPlistCarriesTypeSignatureAndIdentity)
{
    framemeld::pipl::BundleInfo info{"Exe", "Display", "com.example.x", "1.2.3", "1.2.3.4"};
    const std::string plist = framemeld::pipl::InfoPlist(info);
    for (const char *pair : {"<key>CFBundlePackageType</key>\n\t<string>eFKT</string>",
                             "<key>CFBundleSignature</key>\n\t<string>FXTC</string>",
                             "<key>CFBundleExecutable</key>\n\t<string>Exe</string>",
                             "<key>CFBundleName</key>\n\t<string>Display</string>",
                             "<key>CFBundleIdentifier</key>\n\t<string>com.example.x</string>",
                             "<key>CFBundleShortVersionString</key>\n\t<string>1.2.3</string>",
                             "<key>CFBundleVersion</key>\n\t<string>1.2.3.4</string>"}) {
        EXPECT_NE(plist.find(pair), std::string::npos) << pair;
    }
    EXPECT_EQ(plist.rfind("</dict>\n</plist>\n"), plist.size() - 17);

    info.name = "A & B";
    EXPECT_THROW(framemeld::pipl::InfoPlist(info), std::invalid_argument);
}

} // namespace
