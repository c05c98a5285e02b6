#include "pipl/FramemeldPipl.h"

#include "host/FramemeldVersion.h"

#include <string>

namespace framemeld::pipl {
namespace {

std::uint16_t U16(A_short value)
{
    return static_cast<std::uint16_t>(value);
}

} // namespace

PropertyList FramemeldProperties(ByteOrder target)
{
    PropertyList list;
    list.push_back(Property::FourChar(FourCharCode("kind"), FourCharCode("eFKT")));
    list.push_back(Property::Pascal(FourCharCode("name"), FRAMEMELD_NAME));
    list.push_back(Property::Pascal(FourCharCode("catg"), FRAMEMELD_CATEGORY));
    if (target == ByteOrder::Windows) {
        list.push_back(Property::CStr(FourCharCode("8664"), FRAMEMELD_ENTRY_POINT));
    } else {
        list.push_back(Property::Pascal(FourCharCode("mi64"), FRAMEMELD_ENTRY_POINT));
        list.push_back(Property::Pascal(FourCharCode("ma64"), FRAMEMELD_ENTRY_POINT));
    }
    list.push_back(Property::ShortPair(FourCharCode("ePVR"), U16(FRAMEMELD_PIPL_VERSION_MAJOR),
                                       U16(FRAMEMELD_PIPL_VERSION_MINOR)));
    list.push_back(Property::ShortPair(FourCharCode("eSVR"), U16(FRAMEMELD_SPEC_VERSION_MAJOR),
                                       U16(FRAMEMELD_SPEC_VERSION_MINOR)));
    list.push_back(Property::Long(FourCharCode("eVER"), FRAMEMELD_VERSION));
    list.push_back(Property::Short(FourCharCode("eINF"), 0));
    list.push_back(
        Property::Long(FourCharCode("eGLO"), static_cast<std::uint32_t>(FRAMEMELD_OUT_FLAGS)));
    list.push_back(
        Property::Long(FourCharCode("eGL2"), static_cast<std::uint32_t>(FRAMEMELD_OUT_FLAGS2)));
    list.push_back(Property::Pascal(FourCharCode("eMNA"), FRAMEMELD_MATCH_NAME));
    list.push_back(Property::Long(FourCharCode("aeFL"), 0));
    return list;
}

BundleInfo FramemeldBundle()
{
    const std::string version = std::to_string(VERSION_MAJOR) + "." +
                                std::to_string(VERSION_MINOR) + "." +
                                std::to_string(VERSION_BUGFIX);
    BundleInfo info;
    info.executable = "Framemeld";
    info.name = "Framemeld";
    info.identifier = "com.tessaran.framemeld";
    info.shortVersion = version;
    info.bundleVersion = version + "." + std::to_string(VERSION_BUILD);
    return info;
}

} // namespace framemeld::pipl
