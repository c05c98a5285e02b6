#include "host/Framemeld.h"

#include "host/AEGP_SuiteHandler.h"
#include "host/ExceptionToErr.h"
#include "host/FramemeldParams.h"
#include "host/FramemeldVersion.h"
#include "render/SmartRender.h"

PF_Err About(PF_InData *in_data, PF_OutData *out_data)
{
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    suites.ANSICallbacksSuite1()->sprintf(
        out_data->return_msg, "%s, v%d.%d\r", "Framemeld for After Effects",
        static_cast<int>(VERSION_MAJOR), static_cast<int>(VERSION_MINOR));
    suites.ReleaseAllSuites();
    return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData *, PF_OutData *out_data)
{
    out_data->my_version = FRAMEMELD_VERSION;
    out_data->out_flags = FRAMEMELD_OUT_FLAGS;
    out_data->out_flags2 = FRAMEMELD_OUT_FLAGS2;
    return PF_Err_NONE;
}

namespace {

PF_Err Dispatch(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data, void *extra)
{
    switch (cmd) {
    case PF_Cmd_ABOUT: return About(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP: return GlobalSetup(in_data, out_data);
    case PF_Cmd_PARAMS_SETUP: return ParamsSetup(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
        return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra *>(extra));
    case PF_Cmd_SMART_RENDER:
        return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra *>(extra));
    default:
        // No state to set up or tear down, and no non-smart render path.
        return PF_Err_NONE;
    }
}

} // namespace

extern "C" FRAMEMELD_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData *in_data,
                                                  PF_OutData *out_data, PF_ParamDef *[],
                                                  PF_LayerDef *, void *extra)
{
    // An exception crossing into the host terminates it (on Apple silicon at least), so
    // everything thrown below is turned into an error code here.
    try {
        return Dispatch(cmd, in_data, out_data, extra);
    } catch (int err) {
        return err;
    } catch (...) {
        return ErrFromCurrentException();
    }
}
