#include "cli/job/MemoryBudget.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace framemeld::cli {
namespace {

// cgroup v1 writes "no limit" as the largest page-aligned signed 64-bit value; anything this
// large is no limit either.
constexpr std::uint64_t kNoLimitAbove = std::uint64_t{1} << 62;
constexpr std::uint64_t kFallbackBudget = std::uint64_t{1} << 30;

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
