#include "pipl/ResourceScript.h"

#include <cstddef>

namespace framemeld::pipl {
namespace {

constexpr std::size_t kBytesPerLine = 16; // keeps every literal far below rc.exe's limits

void AppendEscaped(std::string &out, std::uint8_t byte)
{
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

} // namespace

std::string WindowsResourceScript(const std::vector<std::uint8_t> &pipl)
{
    std::string rc;
    rc += "// Framemeld PiPL: the property list the host reads before loading the plug-in.\n";
    rc += "// Written at build time by framemeld_pipl from host/FramemeldVersion.h; do not edit.\n";
    rc += "LANGUAGE 0x09, 0x01\n"; // LANG_ENGLISH, SUBLANG_ENGLISH_US: 1033
    rc += std::to_string(kPiplResourceId) + " PIPL DISCARDABLE\n";
    rc += "BEGIN\n";
    for (std::size_t start = 0; start < pipl.size(); start += kBytesPerLine) {
        rc += "    \"";
        for (std::size_t i = start; i < pipl.size() && i < start + kBytesPerLine; ++i) {
            AppendEscaped(rc, pipl[i]);
        }
        rc += start + kBytesPerLine < pipl.size() ? "\",\n" : "\"\n";
    }
    rc += "END\n";
    return rc;
}

} // namespace framemeld::pipl
