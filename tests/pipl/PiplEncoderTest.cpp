// Byte-exact checks of both PiPL encodings against known vectors, plus round trips through the
// independent reader.
#include "pipl/PiplEncoder.h"
#include "PiplReader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using framemeld::pipl::ByteOrder;
using framemeld::pipl::Encode;
using framemeld::pipl::FourCharCode;
using framemeld::pipl::Property;
using Bytes = std::vector<std::uint8_t>;

// The bytes of the only property of a one-property list, after its 16-byte header.
Bytes Body(const Bytes &encoded, ByteOrder order)
{
    const std::size_t headerSize = order == ByteOrder::Windows ? 10 : 8;
    return Bytes(encoded.begin() + static_cast<std::ptrdiff_t>(headerSize + 16), encoded.end());
}

std::uint32_t Length(const Bytes &encoded, ByteOrder order)
{
    const auto props = order == ByteOrder::Windows ? framemeld::piplread::ReadWindows(encoded)
                                                   : framemeld::piplread::ReadMac(encoded);
    return props.at(0).length;
}

TEST(PiplEncoder, MacPropertiesMatchKnownBytes)
{
    const auto mac = ByteOrder::MacOS;
    const Bytes name = Encode({Property::Pascal(FourCharCode("name"), "Portable")}, mac);
    EXPECT_EQ(Length(name, mac), 9u);
    EXPECT_EQ(Body(name, mac), (Bytes{8, 'P', 'o', 'r', 't', 'a', 'b', 'l', 'e', 0, 0, 0}));

    const Bytes code = Encode({Property::Pascal(FourCharCode("mi64"), "EffectMain")}, mac);
    EXPECT_EQ(Length(code, mac), 11u);
    EXPECT_EQ(Body(code, mac).size(), 12u);

    EXPECT_EQ(Body(Encode({Property::ShortPair(FourCharCode("eSVR"), 13, 28)}, mac), mac),
              (Bytes{0x00, 0x0D, 0x00, 0x1C}));
    EXPECT_EQ(Body(Encode({Property::Long(FourCharCode("eVER"), 0x00088001)}, mac), mac),
              (Bytes{0x00, 0x08, 0x80, 0x01}));
    EXPECT_EQ(Body(Encode({Property::Long(FourCharCode("eGLO"), 0x440)}, mac), mac),
              (Bytes{0x00, 0x00, 0x04, 0x40}));
    EXPECT_EQ(Body(Encode({Property::Long(FourCharCode("eGL2"), 0x08000000)}, mac), mac),
              (Bytes{0x08, 0x00, 0x00, 0x00}));

    const Bytes inf = Encode({Property::Short(FourCharCode("eINF"), 0)}, mac);
    EXPECT_EQ(Length(inf, mac), 2u);
    EXPECT_EQ(Body(inf, mac), (Bytes{0, 0, 0, 0}));
}

TEST(PiplEncoder, MacHeaderAndPropertyHeaderAreBigEndian)
{
    const Bytes kind =
        Encode({Property::FourChar(FourCharCode("kind"), FourCharCode("eFKT"))}, ByteOrder::MacOS);
    EXPECT_EQ(kind, (Bytes{0,   0,   0,   0,   0,   0,   0,   1,   // version 0, one property
                           '8', 'B', 'I', 'M', 'k', 'i', 'n', 'd', // vendor, key
                           0,   0,   0,   0,   0,   0,   0,   4,   // id 0, length 4
                           'e', 'F', 'K', 'T'}));
}

TEST(PiplEncoder, WindowsIsLittleEndianWithLeadingOne)
{
    const Bytes kind = Encode({Property::FourChar(FourCharCode("kind"), FourCharCode("eFKT"))},
                              ByteOrder::Windows);
    EXPECT_EQ(kind,
              (Bytes{1,   0,   0,   0,   0,   0,   1,   0,   0, 0, // 1, version 0, one property
                     'M', 'I', 'B', '8', 'd', 'n', 'i', 'k',       // codes byte-reversed
                     0,   0,   0,   0,   4,   0,   0,   0,         // id 0, length 4
                     'T', 'K', 'F', 'e'}));
    EXPECT_EQ(Body(Encode({Property::ShortPair(FourCharCode("eSVR"), 13, 28)}, ByteOrder::Windows),
                   ByteOrder::Windows),
              (Bytes{0x0D, 0x00, 0x1C, 0x00}));
}

TEST(PiplEncoder, WindowsCountsStringPaddingInTheLength)
{
    const auto win = ByteOrder::Windows;
    const Bytes name = Encode({Property::Pascal(FourCharCode("name"), "SDK_Invert_ProcAmp")}, win);
    EXPECT_EQ(Length(name, win), 20u);
    EXPECT_EQ(framemeld::piplread::Pascal(framemeld::piplread::ReadWindows(name).at(0).data),
              "SDK_Invert_ProcAmp");

    const Bytes code = Encode({Property::CStr(FourCharCode("8664"), "EffectMain")}, win);
    EXPECT_EQ(Length(code, win), 12u);
    EXPECT_EQ(Body(code, win), (Bytes{'E', 'f', 'f', 'e', 'c', 't', 'M', 'a', 'i', 'n', 0, 0}));

    // 1 + 11 characters fill four-byte words exactly: no padding, no terminator.
    const Bytes exact = Encode({Property::Pascal(FourCharCode("name"), "Framemeld 2")}, win);
    EXPECT_EQ(Length(exact, win), 12u);

    // Only strings count their padding; eINF keeps its true size.
    EXPECT_EQ(Length(Encode({Property::Short(FourCharCode("eINF"), 0)}, win), win), 2u);
}

TEST(PiplEncoder, ListsRoundTripInOrderOnBothPlatforms)
{
    const framemeld::pipl::PropertyList list = {
        Property::FourChar(FourCharCode("kind"), FourCharCode("eFKT")),
        Property::Pascal(FourCharCode("name"), "A"),
        Property::CStr(FourCharCode("8664"), "Entry"),
        Property::Short(FourCharCode("eINF"), 0x1234),
        Property::ShortPair(FourCharCode("ePVR"), 2, 1),
        Property::Pascal(FourCharCode("eMNA"), ""),
        Property::Long(FourCharCode("aeFL"), 0xDEADBEEF),
    };
    for (const auto order : {ByteOrder::Windows, ByteOrder::MacOS}) {
        const Bytes bytes = Encode(list, order);
        const auto read = order == ByteOrder::Windows ? framemeld::piplread::ReadWindows(bytes)
                                                      : framemeld::piplread::ReadMac(bytes);
        const auto o = order == ByteOrder::Windows ? framemeld::piplread::Order::Little
                                                   : framemeld::piplread::Order::Big;
        ASSERT_EQ(read.size(), list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(read[i].vendor, framemeld::piplread::Key("8BIM"));
            EXPECT_EQ(read[i].key, list[i].key) << i;
            EXPECT_EQ(read[i].id, 0u);
        }
        EXPECT_EQ(framemeld::piplread::Pascal(read[1].data), "A");
        EXPECT_EQ(framemeld::piplread::CString(read[2].data), "Entry");
        EXPECT_EQ(framemeld::piplread::U16At(read[3].data, 0, o), 0x1234);
        EXPECT_EQ(framemeld::piplread::U16At(read[4].data, 0, o), 2);
        EXPECT_EQ(framemeld::piplread::U16At(read[4].data, 2, o), 1);
        EXPECT_EQ(framemeld::piplread::Pascal(read[5].data), "");
        EXPECT_EQ(framemeld::piplread::U32(read[6].data, o), 0xDEADBEEFu);
    }
}

TEST(PiplEncoder, RejectsStringsThatCannotBeReadBack)
{
    for (const auto order : {ByteOrder::Windows, ByteOrder::MacOS}) {
        EXPECT_NO_THROW(
            Encode({Property::Pascal(FourCharCode("name"), std::string(255, 'x'))}, order));
        EXPECT_THROW(Encode({Property::Pascal(FourCharCode("name"), std::string(256, 'x'))}, order),
                     std::length_error);
        EXPECT_THROW(Encode({Property::CStr(FourCharCode("8664"), std::string("a\0b", 3))}, order),
                     std::invalid_argument);
        EXPECT_THROW(
            Encode({Property::Pascal(FourCharCode("name"), std::string("a\0b", 3))}, order),
            std::invalid_argument);
    }
}

} // namespace
