#pragma once
// How many threads a job runs on: the --threads it was given, or one per core.

#include <thread>

namespace framemeld::cli {

inline int jobThreads(int requested)
{
    if (requested > 0) {
        return requested;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

} // namespace framemeld::cli
