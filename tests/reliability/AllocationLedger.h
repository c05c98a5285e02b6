// Keeps books on the heap blocks that the plug-in module allocates, and can refuse them.
//
// Linking AllocationLedger.cpp into an executable replaces the global allocation functions of the
// whole process, the loaded module's included (the module binds operator new to the
// executable's). A block counts as the module's when the code that called operator new lies in
// the module's loaded image, so the runner, the tests and the C++ library are never counted or
// starved. The books tell whether a render gave back everything it took, and how many bytes the
// module held at its peak.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framemeld::ledger {

struct Books {
    std::int64_t liveBlocks = 0; // module blocks allocated and not yet freed
    std::int64_t liveBytes = 0;
    std::int64_t peakBytes = 0;   // highest liveBytes since the last ResetPeak()
    std::int64_t totalBlocks = 0; // module blocks allocated since the start
    std::int64_t refused = 0;     // module allocations refused under the budget
};

// From now on, blocks allocated by code of the loaded image that contains `address` are counted.
// Returns false when no loaded image contains it.
bool WatchModuleContaining(const void *address);

Books Read();

// Starts a new peak at the current live bytes.
void ResetPeak();

// Refuses every module allocation that would take the module's live bytes above `bytes`
// (operator new then throws std::bad_alloc, the nothrow forms return null); 0 lifts the limit.
void SetModuleBudget(std::int64_t bytes);

} // namespace framemeld::ledger
