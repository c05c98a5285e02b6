// Faults the runner injects on request, so tests can drive a plug-in down its error paths.
//
// Calls are counted from 1 at the start of each runner operation (setup(), render(),
// sendCommand()), across all threads. A faulted call does none of its work and returns the chosen
// code, except that a faulted release (ReleaseSuite, FreeBlock, checkin) still releases: a host
// cannot refuse to take something back, so the fault only shows in the result code.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectPixelFormat.h"
#include "runner/detail/HostFunctions.h"

namespace framemeld::runner {

struct CallFault {
    HostFunction function;
    long nth; // 1 = the first call of `function`
    PF_Err code;
};

struct SmallerWorld {
    int width;
    int height;
};

struct FaultPlan {
    // Fail the k-th call counted across every host function (1 = the very first); 0 = never.
    long failNthCall = 0;
    PF_Err failNthCallCode = PF_Err_INTERNAL_STRUCT_DAMAGED;

    // Fail the k-th call of one function.
    std::vector<CallFault> callFaults;

    // Suites that AcquireSuite refuses, by name (every version).
    std::set<std::string> withheldSuites;

    // From the k-th cancel poll on (the plug-in's abort calls and the iterate's between-row
    // polls), every poll and progress report answers PF_Interrupt_CANCEL; 0 = never.
    long cancelAfterPolls = 0;

    // checkout_layer_pixels answers PF_Err_NONE with a null world for these checkout ids...
    std::set<A_long> nullWorldCheckouts;
    // ...or with a separately allocated copy of the frame's top-left corner of this size.
    std::map<A_long, SmallerWorld> smallerWorldCheckouts;

    // checkout_output fails with this code.
    std::optional<PF_Err> failOutputCheckout;

    // checkout_param answers these float slider values as they stand, by parameter index,
    // without the clamping setParameter does: what an expression can still deliver.
    std::map<PF_ParamIndex, double> rawSliderValues;

    // PF_GetPixelFormat succeeds with this format for every world.
    std::optional<PF_PixelFormat> forcedPixelFormat;
};

} // namespace framemeld::runner
