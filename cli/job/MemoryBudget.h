#pragma once
// How much memory a run may use: what the user gave with --memory, else a share of what the
// process can really get. In a container or a Slurm job that is the cgroup's limit, which
// /proc/meminfo does not show; a run sized from the machine's free memory there is killed.

#include <cstdint>
#include <optional>
#include <string>

namespace framemeld::cli {

// The memory limit of the cgroup that /proc/self/cgroup (read from `selfCgroupFile`) names,
// looked up under `cgroupRoot`: memory.max of a cgroup v2 hierarchy, memory.limit_in_bytes of a v1
// memory controller, the tightest one from the process's cgroup up to the root. Unset when there
// is no limit ("max", or v1's near-2^63 "unlimited") or the files cannot be read.
std::optional<std::uint64_t> cgroupMemoryLimit(const std::string &selfCgroupFile,
                                               const std::string &cgroupRoot);

// MemAvailable of a /proc/meminfo file, in bytes; unset when the file or the line is missing.
std::optional<std::uint64_t> availableMemory(const std::string &meminfoFile);

// The share of the available memory a run takes without --memory: the rest is left to the
// decoders' own buffers, the OpenImageIO module and everything else running on the machine.
inline constexpr double kDefaultMemoryShare = 0.5;

// The budget of a run: `requested` when given, else kDefaultMemoryShare of the smaller of this
// process's cgroup limit and the machine's available memory (the cgroup limit alone may be far
// above what is free). Without either figure, 1 GiB.
std::uint64_t memoryBudget(std::optional<std::uint64_t> requested);

} // namespace framemeld::cli
