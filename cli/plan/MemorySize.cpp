#include "cli/plan/MemorySize.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

std::string lowered(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::uint64_t parseMemorySize(const std::string &option, const std::string &text)
{
    const auto bad = [&](const std::string &why) {
        return UsageError(option + " needs a size such as 512M or 4G" + why + ", not \"" + text +
                          "\"");
    };
    // Only the documented shape, DIGITS[.DIGITS][UNIT]: a general number reader would also take
    // hexadecimal ("0x10G", "0x1p30"), exponents ("1e3K") and blanks, none of which users mean.
    constexpr const char *kDigits = "0123456789";
    const std::size_t wholeEnd = std::min(text.find_first_not_of(kDigits), text.size());
    std::size_t numberEnd = wholeEnd;
    if (wholeEnd == 0) {
        throw bad("");
    }
    if (wholeEnd < text.size() && text[wholeEnd] == '.') {
        numberEnd = std::min(text.find_first_not_of(kDigits, wholeEnd + 1), text.size());
        // Eighteen decimals are finer than a byte of any unit, and keep the arithmetic exact.
        if (numberEnd == wholeEnd + 1 || numberEnd - wholeEnd - 1 > 18) {
            throw bad("");
        }
    }
    const std::string suffix = lowered(text.substr(numberEnd));
    static const std::vector<std::pair<std::string, int>> kUnits = {
        {"", 0},    {"b", 0},  {"k", 1},   {"kb", 1},  {"kib", 1}, {"m", 2},  {"mb", 2},
        {"mib", 2}, {"g", 3},  {"gb", 3},  {"gib", 3}, {"t", 4},   {"tb", 4}, {"tib", 4},
        {"p", 5},   {"pb", 5}, {"pib", 5}, {"e", 6},   {"eb", 6},  {"eib", 6}};
    const auto unit = std::find_if(kUnits.begin(), kUnits.end(),
                                   [&](const auto &entry) { return entry.first == suffix; });
    if (unit == kUnits.end()) {
        throw bad(" (units K, M, G, T, P, E)");
    }
    // In whole numbers, so that the limit and the rounding are decided on the exact value.
    __extension__ typedef unsigned __int128 Wide;
    constexpr Wide kMostBytes = static_cast<Wide>(1) << 63; // 8E
    const Wide scale = static_cast<Wide>(1) << (10 * unit->second);
    Wide whole = 0;
    for (std::size_t i = 0; i < wholeEnd; ++i) {
        whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
        if (whole > kMostBytes) {
            throw bad(" (at most 8E)");
        }
    }
    Wide fraction = 0;
    Wide tenths = 1;
    for (std::size_t i = wholeEnd + 1; i < numberEnd; ++i) {
        fraction = fraction * 10 + static_cast<unsigned>(text[i] - '0');
        tenths *= 10;
    }
    const Wide bytes = whole * scale + fraction * scale / tenths; // rounded down to a byte
    if (bytes > kMostBytes) {
        throw bad(" (at most 8E)");
    }
    if (bytes < 1) {
        throw bad(" (more than 0)");
    }
    return static_cast<std::uint64_t>(bytes);
}

std::string memoryText(std::uint64_t bytes)
{
    static const char *const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    // Rounded up, so a smallest budget quoted in a message is one that works.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f %s", std::ceil(value * 10.0) / 10.0, kUnits[unit]);
    return buffer;
}

} // namespace framemeld::cli
