#include "cli/MemoryBudget.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/CliError.h"

namespace framemeld::cli {
namespace {

// cgroup v1 writes "no limit" as the largest page-aligned signed 64-bit value; anything this
// large is no limit either.
constexpr std::uint64_t kNoLimitAbove = std::uint64_t{1} << 62;
constexpr std::uint64_t kFallbackBudget = std::uint64_t{1} << 30;

std::string lowered(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::optional<std::uint64_t> readLimitFile(const std::string &path)
{
    std::ifstream file(path);
    std::string text;
    if (!file || !(file >> text) || text == "max") {
        return std::nullopt;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || value >= kNoLimitAbove) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

// The tightest limit in `fileName` from `path` (a cgroup path, "/..."), under `mount`, up to the
// mount's root: a parent's limit holds for its children too.
std::optional<std::uint64_t> tightestLimit(const std::string &mount, std::string path,
                                           const std::string &fileName)
{
    std::optional<std::uint64_t> tightest;
    while (true) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        const std::string dir = path == "/" ? mount : mount + path;
        if (const auto limit = readLimitFile(dir + "/" + fileName)) {
            tightest = tightest ? std::min(*tightest, *limit) : *limit;
        }
        if (path.empty() || path == "/") {
            return tightest;
        }
        const auto slash = path.rfind('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
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

std::optional<std::uint64_t> cgroupMemoryLimit(const std::string &selfCgroupFile,
                                               const std::string &cgroupRoot)
{
    std::ifstream file(selfCgroupFile);
    std::optional<std::uint64_t> tightest;
    const auto take = [&](std::optional<std::uint64_t> limit) {
        if (limit) {
            tightest = tightest ? std::min(*tightest, *limit) : *limit;
        }
    };
    // Lines are "id:controllers:path"; v2's one line is "0::path".
    for (std::string line; std::getline(file, line);) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (path.empty() || path[0] != '/') {
            continue;
        }
        if (controllers.empty()) {
            take(tightestLimit(cgroupRoot, path, "memory.max"));
            continue;
        }
        std::istringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');) {
            if (name == "memory") {
                take(tightestLimit(cgroupRoot + "/memory", path, "memory.limit_in_bytes"));
            }
        }
    }
    return tightest;
}

std::optional<std::uint64_t> availableMemory(const std::string &meminfoFile)
{
    std::ifstream file(meminfoFile);
    for (std::string line; std::getline(file, line);) {
        unsigned long long kib = 0;
        if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kib) == 1) {
            return static_cast<std::uint64_t>(kib) * 1024;
        }
    }
    return std::nullopt;
}

std::uint64_t memoryBudget(std::optional<std::uint64_t> requested)
{
    if (requested) {
        return *requested;
    }
    std::optional<std::uint64_t> available = availableMemory("/proc/meminfo");
    if (const auto limit = cgroupMemoryLimit("/proc/self/cgroup", "/sys/fs/cgroup")) {
        available = available ? std::min(*available, *limit) : *limit;
    }
    if (!available) {
        return kFallbackBudget;
    }
    return std::max<std::uint64_t>(
        1, static_cast<std::uint64_t>(static_cast<double>(*available) * kDefaultMemoryShare));
}

} // namespace framemeld::cli
