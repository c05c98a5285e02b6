#include "runner/detail/HostFunctions.h"

namespace framemeld::runner {

const char *hostFunctionName(HostFunction function) noexcept
{
    switch (function) {
    case HostFunction::CheckoutParam: return "checkout_param";
    case HostFunction::CheckinParam: return "checkin_param";
    case HostFunction::AddParam: return "add_param";
    case HostFunction::Abort: return "abort";
    case HostFunction::Progress: return "progress";
    case HostFunction::CheckoutLayer: return "checkout_layer";
    case HostFunction::GuidMixIn: return "GuidMixInPtr";
    case HostFunction::CheckoutLayerPixels: return "checkout_layer_pixels";
    case HostFunction::CheckinLayerPixels: return "checkin_layer_pixels";
    case HostFunction::CheckoutOutput: return "checkout_output";
    case HostFunction::GetPixelData8: return "get_pixel_data8";
    case HostFunction::GetPixelData16: return "get_pixel_data16";
    case HostFunction::IterateGeneric: return "iterate_generic";
    case HostFunction::Iterate8: return "iterate";
    case HostFunction::Iterate16: return "iterate16";
    case HostFunction::IterateFloat: return "iterate (float)";
    case HostFunction::AcquireSuite: return "AcquireSuite";
    case HostFunction::ReleaseSuite: return "ReleaseSuite";
    case HostFunction::AllocateBlock: return "AllocateBlock";
    case HostFunction::FreeBlock: return "FreeBlock";
    case HostFunction::ReallocateBlock: return "ReallocateBlock";
    case HostFunction::NewWorld: return "PF_NewWorld";
    case HostFunction::DisposeWorld: return "PF_DisposeWorld";
    case HostFunction::GetPixelFormat: return "PF_GetPixelFormat";
    case HostFunction::Count: break;
    }
    return "?";
}

} // namespace framemeld::runner
