#include "cli/plan/MemorySize.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    const double number = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(number) || number < 0 ||
        !std::isdigit(static_cast<unsigned char>(text[0]))) {
        throw bad("");
    }
    const std::string suffix = lowered(std::string(end));
    static const std::vector<std::pair<std::string, int>> kUnits = {
        {"", 0},    {"b", 0}, {"k", 1},  {"kb", 1},  {"kib", 1}, {"m", 2},  {"mb", 2},
        {"mib", 2}, {"g", 3}, {"gb", 3}, {"gib", 3}, {"t", 4},   {"tb", 4}, {"tib", 4}};
    const auto unit = std::find_if(kUnits.begin(), kUnits.end(),
                                   [&](const auto &entry) { return entry.first == suffix; });
    if (unit == kUnits.end()) {
        throw bad(" (units K, M, G, T)");
    }
    const double bytes = std::floor(number * std::pow(1024.0, unit->second));
    if (bytes >= 9.2e18) {
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
