#include "packaging/aex_check/AexCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace framemeld::packaging {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string hex(std::uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

std::string join(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text.empty() ? "(none)" : text;
}

// Where two byte strings first differ, for a message a person can act on.
std::string firstDifference(const std::vector<std::uint8_t> &found,
                            const std::vector<std::uint8_t> &expected)
{
    const std::size_t common = std::min(found.size(), expected.size());
    std::size_t at = 0;
    while (at < common && found[at] == expected[at]) {
        ++at;
    }
    std::string text = std::to_string(found.size()) + " bytes, expected " +
                       std::to_string(expected.size()) + "; first difference at byte " +
                       std::to_string(at);
    if (at < common) {
        text += " (" + hex(found[at], 2) + " instead of " + hex(expected[at], 2) + ")";
    }
    return text;
}

} // namespace

bool IsWindowsSystemDll(const std::string &dll)
{
    static const char *const kSystem[] = {
        "kernel32.dll", "kernelbase.dll", "ntdll.dll",   "user32.dll",   "gdi32.dll",
        "advapi32.dll", "shell32.dll",    "ole32.dll",   "oleaut32.dll", "comdlg32.dll",
        "ws2_32.dll",   "bcrypt.dll",     "version.dll", "msvcrt.dll",   "ucrtbase.dll",
    };
    const std::string name = lower(dll);
    if (startsWith(name, "api-ms-win-") && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".dll") == 0) {
        return true;
    }
    return std::find(std::begin(kSystem), std::end(kSystem), name) != std::end(kSystem);
}

std::vector<std::string> CheckAex(const PeImage &image, const AexExpectations &expected)
{
    std::vector<std::string> problems;
    if (image.machine != kMachineAmd64) {
        problems.push_back("machine is " + hex(image.machine, 4) + ", not x64 (0x8664)");
    }
    if (image.optionalHeaderMagic != kOptionalHeaderPe32Plus) {
        problems.push_back("not a 64-bit (PE32+) image");
    }
    if (!image.isDll()) {
        problems.push_back("not a DLL: the host cannot load it as a plug-in");
    }

    if (image.exports != std::vector<std::string>{expected.entryPoint}) {
        problems.push_back("exports " + join(image.exports) + "; expected exactly " +
                           expected.entryPoint);
    }

    for (const std::string &dll : image.imports) {
        if (!IsWindowsSystemDll(dll)) {
            problems.push_back("imports " + dll + ", which is not part of Windows");
        }
    }

    std::vector<const PeResource *> pipls;
    for (const PeResource &resource : image.resources) {
        // Windows looks resource types up without regard to case.
        if (lower(resource.type) == lower(expected.piplType)) {
            pipls.push_back(&resource);
        }
    }
    if (pipls.size() != 1) {
        problems.push_back("has " + std::to_string(pipls.size()) + " " + expected.piplType +
                           " resources; expected exactly one");
    }
    for (const PeResource *pipl : pipls) {
        const std::string where = pipl->type + " resource " + pipl->name + " (language " +
                                  std::to_string(pipl->language) + ")";
        if (pipl->type != expected.piplType) {
            problems.push_back(where + ": type not written as " + expected.piplType);
        }
        if (pipl->name != expected.piplName) {
            problems.push_back(where + ": id is not " + expected.piplName);
        }
        if (pipl->language != expected.piplLanguage) {
            problems.push_back(where + ": language is not " +
                               std::to_string(expected.piplLanguage));
        }
        if (pipl->data != expected.pipl) {
            problems.push_back(where + ": bytes differ from the generator's: " +
                               firstDifference(pipl->data, expected.pipl));
        }
    }
    return problems;
}

} // namespace framemeld::packaging
