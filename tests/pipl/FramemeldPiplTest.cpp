// The PiPL files the build wrote, read back with the test's own reader: every property in
// order on both platforms, the containers around them, and agreement with what the plug-in
// itself answers at global setup.
#include "PiplReader.h"
#include "host/Framemeld.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using framemeld::piplread::Key;
using framemeld::piplread::Order;
using framemeld::piplread::RawProperty;
using Bytes = std::vector<std::uint8_t>;

struct GlobalAnswer {
    A_u_long version;
    std::uint32_t flags;
    std::uint32_t flags2;
};

GlobalAnswer AskGlobalSetup()
{
    PF_InData in;
    PF_OutData out;
    std::memset(&in, 0, sizeof in);
    std::memset(&out, 0, sizeof out);
    if (EntryPointFunc(PF_Cmd_GLOBAL_SETUP, &in, &out, nullptr, nullptr, nullptr) != PF_Err_NONE) {
        throw std::runtime_error("global setup failed");
    }
    return {out.my_version, static_cast<std::uint32_t>(out.out_flags),
            static_cast<std::uint32_t>(out.out_flags2)};
}

// Checks every property of an effect PiPL; codeKeys are the platform's code properties.
void CheckProperties(const std::vector<RawProperty> &props, Order order,
                     const std::vector<std::string> &codeKeys)
{
    std::vector<std::string> keys;
    for (const RawProperty &p : props) {
        keys.push_back(framemeld::piplread::KeyName(p.key));
        EXPECT_EQ(p.vendor, Key("8BIM"));
        EXPECT_EQ(p.id, 0u);
    }
    std::vector<std::string> expectedKeys = {"kind", "name", "catg"};
    expectedKeys.insert(expectedKeys.end(), codeKeys.begin(), codeKeys.end());
    for (const char *k : {"ePVR", "eSVR", "eVER", "eINF", "eGLO", "eGL2", "eMNA", "aeFL"}) {
        expectedKeys.push_back(k);
    }
    ASSERT_EQ(keys, expectedKeys);

    std::size_t i = 0;
    EXPECT_EQ(framemeld::piplread::U32(props[i++].data, order), Key("eFKT"));
    EXPECT_EQ(framemeld::piplread::Pascal(props[i++].data), "Framemeld 2");
    EXPECT_EQ(framemeld::piplread::Pascal(props[i++].data), "Tessaran");
    for (std::size_t c = 0; c < codeKeys.size(); ++c, ++i) {
        const std::string entry = order == Order::Little
                                      ? framemeld::piplread::CString(props[i].data)
                                      : framemeld::piplread::Pascal(props[i].data);
        EXPECT_EQ(entry, "EntryPointFunc") << codeKeys[c];
    }
    const Bytes &pvr = props[i++].data;
    ASSERT_EQ(pvr.size(), 4u);
    EXPECT_EQ(framemeld::piplread::U16At(pvr, 0, order), 2);
    EXPECT_EQ(framemeld::piplread::U16At(pvr, 2, order), 1);
    const Bytes &svr = props[i++].data;
    ASSERT_EQ(svr.size(), 4u);
    EXPECT_EQ(framemeld::piplread::U16At(svr, 0, order), 13);
    EXPECT_EQ(framemeld::piplread::U16At(svr, 2, order), 17);
    EXPECT_EQ(framemeld::piplread::U32(props[i++].data, order), 0x00110601u);
    const Bytes &inf = props[i++].data;
    ASSERT_EQ(inf.size(), 2u);
    EXPECT_EQ(framemeld::piplread::U16At(inf, 0, order), 0);
    EXPECT_EQ(framemeld::piplread::U32(props[i++].data, order), 0x06000400u);
    EXPECT_EQ(framemeld::piplread::U32(props[i++].data, order), 0x00001400u);
    EXPECT_EQ(framemeld::piplread::Pascal(props[i++].data), "Tessaran Framemeld 2");
    EXPECT_EQ(framemeld::piplread::U32(props[i++].data, order), 0u);

    // The values the host compares with its global setup call.
    const auto valueOf = [&](const char(&key)[5]) {
        for (const RawProperty &p : props) {
            if (p.key == Key(key)) {
                return framemeld::piplread::U32(p.data, order);
            }
        }
        throw std::runtime_error(std::string("no property ") + key);
    };
    const GlobalAnswer answer = AskGlobalSetup();
    EXPECT_EQ(valueOf("eVER"), answer.version);
    EXPECT_EQ(valueOf("eGLO"), answer.flags);
    EXPECT_EQ(valueOf("eGL2"), answer.flags2);
}

TEST(FramemeldPiPL, WindowsBytesCarryEveryProperty)
{
    const Bytes bytes = framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_WIN_BIN);
    CheckProperties(framemeld::piplread::ReadWindows(bytes), Order::Little, {"8664"});
}

TEST(FramemeldPiPL, ResourceScriptHoldsTheWindowsBytes)
{
    const Bytes script = framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_RC);
    const auto resources =
        framemeld::piplread::ReadResourceScript(std::string(script.begin(), script.end()));
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].type, "PIPL");
    EXPECT_EQ(resources[0].id, "16000");
    EXPECT_EQ(resources[0].language, 1033);
    EXPECT_EQ(resources[0].data, framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_WIN_BIN));
}

TEST(FramemeldPiPL, ResourceCompilerAcceptsTheScript)
{
    if (std::string(FRAMEMELD_WINDRES).empty()) {
        GTEST_SKIP() << "no windres on this machine";
    }
    const std::string res = "framemeld_pipl_test.res";
    const std::string command = std::string("\"") + FRAMEMELD_WINDRES + "\" -i \"" +
                                FRAMEMELD_PIPL_RC + "\" -O res -o \"" + res + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto entries = framemeld::piplread::ReadRes(framemeld::piplread::ReadFileBytes(res));
    std::remove(res.c_str());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, "PIPL");
    EXPECT_EQ(entries[0].name, "#16000");
    EXPECT_EQ(entries[0].language, 1033);
    EXPECT_EQ(entries[0].data, framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_WIN_BIN));
}

TEST(FramemeldPiPL, MacResourceFileCarriesEveryProperty)
{
    const auto resources = framemeld::piplread::ReadResourceFile(
        framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_RSRC));
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].type, Key("PiPL"));
    EXPECT_EQ(resources[0].id, 16000);
    CheckProperties(framemeld::piplread::ReadMac(resources[0].data), Order::Big, {"mi64", "ma64"});
}

TEST(FramemeldPiPL, BundleFiles)
{
    EXPECT_EQ(framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_PKGINFO),
              (Bytes{'e', 'F', 'K', 'T', 'F', 'X', 'T', 'C'}));
    const Bytes plistBytes = framemeld::piplread::ReadFileBytes(FRAMEMELD_PIPL_INFO_PLIST);
    const std::string plist(plistBytes.begin(), plistBytes.end());
    for (const char *pair : {"<key>CFBundleExecutable</key>\n\t<string>Framemeld</string>",
                             "<key>CFBundlePackageType</key>\n\t<string>eFKT</string>",
                             "<key>CFBundleSignature</key>\n\t<string>FXTC</string>",
                             "<key>CFBundleShortVersionString</key>\n\t<string>2.2.0</string>"}) {
        EXPECT_NE(plist.find(pair), std::string::npos) << pair;
    }
}

} // namespace
