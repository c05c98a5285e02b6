// framemeld_pipl: writes the effect's PiPL for both platforms at build time.
//
//   framemeld_pipl [--rc FILE] [--win-bin FILE] [--rsrc FILE] [--pkginfo FILE] [--plist FILE]
//
// --rc       Windows resource script with the PiPL resource (for the .aex)
// --win-bin  the raw Windows PiPL bytes, to compare with the resource found in a built .aex
// --rsrc     macOS resource file holding the big-endian PiPL (Contents/Resources/Framemeld.rsrc)
// --pkginfo  macOS bundle PkgInfo
// --plist    macOS bundle Info.plist
#include "pipl/BundleFiles.h"
#include "pipl/FramemeldPipl.h"
#include "pipl/PiplEncoder.h"
#include "pipl/ResourceFile.h"
#include "pipl/ResourceScript.h"

#include <cstdint>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void WriteFile(const std::string &path, const std::string &contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string AsString(const std::vector<std::uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

int Usage()
{
    std::cerr << "usage: framemeld_pipl [--rc FILE] [--win-bin FILE] [--rsrc FILE] "
                 "[--pkginfo FILE] [--plist FILE]\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::map<std::string, std::string> outputs;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (i + 1 >= argc || (option != "--rc" && option != "--win-bin" && option != "--rsrc" &&
                              option != "--pkginfo" && option != "--plist")) {
            return Usage();
        }
        outputs[option] = argv[i + 1];
    }
    if (outputs.empty()) {
        return Usage();
    }

    try {
        const std::vector<std::uint8_t> windows = framemeld::pipl::Encode(
            framemeld::pipl::FramemeldProperties(framemeld::pipl::ByteOrder::Windows),
            framemeld::pipl::ByteOrder::Windows);
        const std::vector<std::uint8_t> mac = framemeld::pipl::Encode(
            framemeld::pipl::FramemeldProperties(framemeld::pipl::ByteOrder::MacOS),
            framemeld::pipl::ByteOrder::MacOS);

        for (const auto &[option, path] : outputs) {
            if (option == "--rc") {
                WriteFile(path, framemeld::pipl::WindowsResourceScript(windows));
            } else if (option == "--win-bin") {
                WriteFile(path, AsString(windows));
            } else if (option == "--rsrc") {
                WriteFile(path,
                          AsString(framemeld::pipl::SingleResourceFile(
                              framemeld::pipl::FourCharCode("PiPL"),
                              static_cast<std::int16_t>(framemeld::pipl::kPiplResourceId), mac)));
            } else if (option == "--pkginfo") {
                WriteFile(path, framemeld::pipl::PkgInfo());
            } else {
                WriteFile(path, framemeld::pipl::InfoPlist(framemeld::pipl::FramemeldBundle()));
            }
        }
    } catch (const std::exception &e) {
        std::cerr << "framemeld_pipl: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
