// The Contents folder of the macOS bundle, staged by the same script a Mac build runs after the
// link: which files land where, PkgInfo, Info.plist read by a strict reader of its own, and the
// resource file's header and map as the host's resource manager walks them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kContents = FRAMEMELD_BUNDLE_CONTENTS;

Bytes ReadBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Be32(const Bytes &b, std::size_t at)
{
    if (at + 4 > b.size()) {
        throw std::out_of_range("read past the end at " + std::to_string(at));
    }
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}

std::uint16_t Be16(const Bytes &b, std::size_t at)
{
    if (at + 2 > b.size()) {
        throw std::out_of_range("read past the end at " + std::to_string(at));
    }
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t FourChar(const char (&code)[5])
{
    return (std::uint32_t{static_cast<unsigned char>(code[0])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(code[1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(code[2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(code[3])};
}

// A plist as Apple's tools write a flat dictionary of strings: the XML declaration, the
// doctype, <plist version="1.0"><dict> with <key>/<string> pairs, and nothing else. Throws on
// anything it does not expect, including a repeated key.
std::map<std::string, std::string> ReadStringPlist(const std::string &text)
{
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
            ++at;
        }
    };
    const auto expect = [&](const std::string &token) {
        skipSpace();
        if (text.compare(at, token.size(), token) != 0) {
            throw std::runtime_error("expected " + token + " at offset " + std::to_string(at));
        }
        at += token.size();
    };
    const auto element = [&](const std::string &tag) {
        expect("<" + tag + ">");
        const std::size_t end = text.find("</" + tag + ">", at);
        if (end == std::string::npos) {
            throw std::runtime_error("unclosed <" + tag + ">");
        }
        std::string content = text.substr(at, end - at);
        if (content.find_first_of("<>&") != std::string::npos) {
            throw std::runtime_error("markup or entity inside <" + tag + ">: " + content);
        }
        at = end + tag.size() + 3;
        return content;
    };

    expect("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    expect("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">");
    expect("<plist version=\"1.0\">");
    expect("<dict>");
    std::map<std::string, std::string> entries;
    for (;;) {
        skipSpace();
        if (text.compare(at, 7, "</dict>") == 0) {
            break;
        }
        const std::string key = element("key");
        const std::string value = element("string");
        if (!entries.emplace(key, value).second) {
            throw std::runtime_error("key " + key + " appears twice");
        }
    }
    expect("</dict>");
    expect("</plist>");
    skipSpace();
    if (at != text.size()) {
        throw std::runtime_error("text after </plist>");
    }
    return entries;
}

std::map<std::string, std::string> InfoPlist()
{
    const Bytes bytes = ReadBytes(kContents / "Info.plist");
    return ReadStringPlist(std::string(bytes.begin(), bytes.end()));
}

TEST(MacBundle, HoldsExactlyTheFilesTheHostLooksFor)
{
    std::set<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(kContents)) {
        if (entry.is_regular_file()) {
            files.insert(fs::relative(entry.path(), kContents).generic_string());
        }
    }
    // Contents/MacOS/Framemeld is the linked code, which only a Mac build makes.
    EXPECT_THAT(files, ::testing::ElementsAre("Info.plist", "PkgInfo", "Resources/Framemeld.rsrc"));
}

TEST(MacBundle, PkgInfoIsTheEightBytesOfTypeAndSignature)
{
    EXPECT_EQ(ReadBytes(kContents / "PkgInfo"), (Bytes{'e', 'F', 'K', 'T', 'F', 'X', 'T', 'C'}));
}

TEST(MacBundle, InfoPlistNamesAnEffectBundleAndAgreesWithTheOtherFiles)
{
    const auto plist = InfoPlist();
    EXPECT_EQ(plist.at("CFBundlePackageType"), "eFKT");
    EXPECT_EQ(plist.at("CFBundleSignature"), "FXTC");
    EXPECT_EQ(plist.at("CFBundleExecutable"), "Framemeld");
    EXPECT_EQ(plist.at("CFBundleInfoDictionaryVersion"), "6.0");
    EXPECT_TRUE(std::regex_match(plist.at("CFBundleIdentifier"),
                                 std::regex("[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+")))
        << plist.at("CFBundleIdentifier");
    EXPECT_TRUE(std::regex_match(plist.at("CFBundleShortVersionString"),
                                 std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
    EXPECT_EQ(plist.at("CFBundleVersion").rfind(plist.at("CFBundleShortVersionString") + ".", 0),
              0u);

    // The same facts stated three times must agree: PkgInfo, the plist, the resource's name.
    const Bytes pkgInfo = ReadBytes(kContents / "PkgInfo");
    EXPECT_EQ(std::string(pkgInfo.begin(), pkgInfo.end()),
              plist.at("CFBundlePackageType") + plist.at("CFBundleSignature"));
    EXPECT_TRUE(
        fs::is_regular_file(kContents / "Resources" / (plist.at("CFBundleExecutable") + ".rsrc")));
}

TEST(MacBundle, PlistReaderRefusesWhatMacOSWouldNotRead)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                             "\"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n";
    EXPECT_EQ(ReadStringPlist(head + "<key>A</key><string>b</string></dict></plist>\n").at("A"),
              "b");
    for (const std::string &body :
         {std::string("<key>A</key><string>b</string>"),                    // unclosed dict
          std::string("<key>A</key></dict></plist>"),                       // key without value
          std::string("<key>A</key><string>a & b</string></dict></plist>"), // bare ampersand
          std::string(
              "<key>A</key><string>1</string><key>A</key><string>2</string></dict></plist>"),
          std::string("</dict></plist><extra/>")}) {
        EXPECT_THROW(ReadStringPlist(head + body), std::runtime_error) << body;
    }
}

// The classic resource file layout: a 16-byte header and 240 reserved bytes, the data area,
// then the map with a copy of the header, the type list and one reference per resource.
TEST(MacBundle, ResourceFileHeaderAndMapLeadToThePipl)
{
    const Bytes rsrc = ReadBytes(kContents / "Resources" / "Framemeld.rsrc");
    ASSERT_GE(rsrc.size(), 256u + 30u);
    const std::uint32_t dataOffset = Be32(rsrc, 0);
    const std::uint32_t mapOffset = Be32(rsrc, 4);
    const std::uint32_t dataLength = Be32(rsrc, 8);
    const std::uint32_t mapLength = Be32(rsrc, 12);
    EXPECT_EQ(dataOffset, 256u);
    EXPECT_EQ(std::uint64_t{mapOffset} + mapLength, rsrc.size());
    EXPECT_LE(std::uint64_t{dataOffset} + dataLength, mapOffset);
    for (std::size_t i = 16; i < 256; ++i) {
        ASSERT_EQ(rsrc[i], 0) << "reserved byte " << i;
    }

    const std::size_t map = mapOffset;
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(rsrc[map + i], rsrc[i]) << "map's copy of the header, byte " << i;
    }
    EXPECT_EQ(Be32(rsrc, map + 16), 0u); // next map handle
    EXPECT_EQ(Be16(rsrc, map + 20), 0u); // file reference
    EXPECT_EQ(Be16(rsrc, map + 22), 0u); // attributes
    const std::size_t typeList = map + Be16(rsrc, map + 24);
    EXPECT_EQ(Be16(rsrc, map + 24), 28u);
    EXPECT_EQ(Be16(rsrc, map + 26), mapLength) << "the name list is empty";

    ASSERT_EQ(Be16(rsrc, typeList), 0u) << "one type";
    EXPECT_EQ(Be32(rsrc, typeList + 2), FourChar("PiPL"));
    ASSERT_EQ(Be16(rsrc, typeList + 6), 0u) << "one resource of that type";
    const std::size_t reference = typeList + Be16(rsrc, typeList + 8);
    EXPECT_EQ(static_cast<std::int16_t>(Be16(rsrc, reference)), 16000);
    EXPECT_EQ(Be16(rsrc, reference + 2), 0xFFFFu) << "no name";
    const std::uint32_t attributesAndOffset = Be32(rsrc, reference + 4);
    EXPECT_EQ(attributesAndOffset >> 24, 0u);
    EXPECT_EQ(Be32(rsrc, reference + 8), 0u);
    EXPECT_EQ(reference + 12, map + mapLength);

    // The resource: a length word, then a big-endian PiPL whose properties fill it exactly.
    const std::size_t resource = dataOffset + (attributesAndOffset & 0xFFFFFFu);
    const std::uint32_t length = Be32(rsrc, resource);
    EXPECT_EQ(std::uint64_t{length} + 4, dataLength);
    const Bytes pipl(rsrc.begin() + static_cast<std::ptrdiff_t>(resource + 4),
                     rsrc.begin() + static_cast<std::ptrdiff_t>(resource + 4 + length));
    EXPECT_EQ(Be32(pipl, 0), 0u) << "properties version";
    const std::uint32_t count = Be32(pipl, 4);
    std::size_t at = 8;
    std::map<std::uint32_t, Bytes> properties;
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(Be32(pipl, at), FourChar("8BIM")) << "property " << i;
        const std::uint32_t key = Be32(pipl, at + 4);
        const std::uint32_t size = Be32(pipl, at + 12);
        ASSERT_LE(at + 16 + size, pipl.size());
        properties[key] = Bytes(pipl.begin() + static_cast<std::ptrdiff_t>(at + 16),
                                pipl.begin() + static_cast<std::ptrdiff_t>(at + 16 + size));
        at += 16 + ((size + 3) & ~std::size_t{3});
    }
    EXPECT_EQ(at, pipl.size());
    EXPECT_EQ(Be32(properties[FourChar("kind")], 0), FourChar("eFKT"));
    // Both Mac code properties name the symbol the bundle's code exports.
    const Bytes entry = {14, 'E', 'n', 't', 'r', 'y', 'P', 'o', 'i', 'n', 't', 'F', 'u', 'n', 'c'};
    EXPECT_EQ(properties[FourChar("mi64")], entry);
    EXPECT_EQ(properties[FourChar("ma64")], entry);
}

} // namespace
