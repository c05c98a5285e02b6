// What the runner saw a plug-in do during one runner operation, and the checks that a
// well-behaved plug-in passes after every command: suites and parameters given back, pre-render
// data freed exactly once, only requested frames checked out, each at most once.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "runner/detail/HostFunctions.h"

namespace framemeld::runner {

struct SuiteUse {
    std::string name;
    A_long version = 0;
    long acquired = 0;
    long released = 0;
    long refused = 0; // acquisitions the host turned down (unknown, withheld or faulted)
};

// Balances that must hold when one command returns.
struct CommandTally {
    PF_Cmd command = 0;
    std::vector<SuiteUse> suites;
    long paramCheckouts = 0;
    long paramCheckins = 0;
};

struct Accounting {
    std::vector<CommandTally> commands;

    bool preRenderDataAttached = false;
    bool deleteFunctionMissing = false; // data attached without a function to free it
    long preRenderDataDeletes = 0;

    std::vector<A_long> unrequestedCheckouts;   // checkout ids the pre-render never requested
    std::vector<A_long> repeatedCheckouts;      // ids checked out more than once in one render
    std::vector<std::string> escapedExceptions; // C++ exceptions that left the plug-in
};

// Every broken rule as a readable sentence; empty when the plug-in behaved.
std::vector<std::string> violations(const Accounting &accounting);

// One frame request of the pre-render (checkout_layer).
struct LayerRequest {
    A_long checkoutId = 0;
    PF_ParamIndex layer = 0;
    A_long whatTime = 0;
    A_long timeStep = 0;
    A_u_long timeScale = 0;
    std::optional<A_long> frame; // the clip frame it resolved to; none outside the clip
    PF_Err result = PF_Err_NONE;
};

// One checkout_layer_pixels call of the render.
struct PixelCheckout {
    A_long checkoutId = 0;
    PF_Err result = PF_Err_NONE;
    bool gotWorld = false;
};

struct ProgressReport {
    A_long done = 0;
    A_long total = 0;
};

struct InjectedFault {
    HostFunction function;
    long call = 0; // its number in the global count
    PF_Err code = PF_Err_NONE;
};

// What happened during one runner operation, in call order where order is defined.
struct RenderRecord {
    std::vector<LayerRequest> layerRequests;
    std::vector<PixelCheckout> pixelCheckouts;
    std::vector<A_long> pixelCheckins;
    long outputCheckouts = 0;

    std::vector<ProgressReport> progress;        // the plug-in's progress calls
    std::vector<ProgressReport> iterateProgress; // the host's own reports inside an iterate
    long abortPolls = 0;                         // the plug-in's abort calls
    long iterateCancelPolls = 0;                 // the host's between-row polls inside an iterate

    std::vector<std::string> refusedCalls; // host functions the runner does not offer
    std::vector<InjectedFault> injectedFaults;
    std::vector<std::string> hostErrors; // host-side failures, e.g. a frame that failed to load
    CallCounts calls;
};

} // namespace framemeld::runner
