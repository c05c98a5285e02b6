// The host functions a plug-in can call and that can report failure, named so that calls can be
// counted and a chosen call made to fail. The ANSI string and math helpers are not among them:
// they cannot report an error.
#pragma once

#include <array>
#include <cstddef>

namespace framemeld::runner {

enum class HostFunction : int {
    // in_data->inter
    CheckoutParam,
    CheckinParam,
    AddParam,
    Abort,
    Progress,
    // pre-render and smart-render callbacks
    CheckoutLayer,
    GuidMixIn,
    CheckoutLayerPixels,
    CheckinLayerPixels,
    CheckoutOutput,
    // in_data->utils and the iterate suites
    GetPixelData8,
    GetPixelData16,
    IterateGeneric,
    Iterate8,
    Iterate16,
    IterateFloat,
    // SPBasicSuite
    AcquireSuite,
    ReleaseSuite,
    AllocateBlock,
    FreeBlock,
    ReallocateBlock,
    // "PF World Suite" 2
    NewWorld,
    DisposeWorld,
    GetPixelFormat,

    Count
};

constexpr std::size_t kHostFunctionCount = static_cast<std::size_t>(HostFunction::Count);

// The SDK name of the function, e.g. "checkout_layer_pixels" or "AcquireSuite".
const char *hostFunctionName(HostFunction function) noexcept;

// How often each function was called during one runner operation (setup, render or command).
struct CallCounts {
    std::array<long, kHostFunctionCount> perFunction{};
    long total = 0; // every call above, in the order the global fault counter sees them

    long of(HostFunction function) const noexcept
    {
        return perFunction[static_cast<std::size_t>(function)];
    }
};

} // namespace framemeld::runner
