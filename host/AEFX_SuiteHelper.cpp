#include "host/AEFX_SuiteHelper.h"

#include "AE_EffectCB.h"
#include "SPBasic.h"

namespace {

// The message goes in as an argument, never as the format, so a '%' in it cannot make the
// host's sprintf read arguments that are not there; the precision keeps it inside return_msg.
PF_Err ReportSuiteFailure(PF_InData *in_data, PF_OutData *out_data, const char *message)
{
    out_data->out_flags |= static_cast<PF_OutFlags>(PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    PF_SPRINTF(out_data->return_msg, "%.*s", static_cast<int>(PF_MAX_EFFECT_MSG_LEN), message);
    return PF_Err_BAD_CALLBACK_PARAM;
}

} // namespace

PF_Err AEFX_AcquireSuite(PF_InData *in_data, PF_OutData *out_data, const char *name, A_long version,
                         const char *error_message, void **suite)
{
    *suite = nullptr;
    if (in_data->pica_basicP != nullptr) {
        const void *acquired = nullptr;
        (void)in_data->pica_basicP->AcquireSuite(name, version, &acquired);
        if (acquired != nullptr) {
            *suite = const_cast<void *>(acquired);
            return PF_Err_NONE;
        }
    }
    return ReportSuiteFailure(in_data, out_data,
                              error_message ? error_message : "Not able to acquire AEFX Suite.");
}

PF_Err AEFX_ReleaseSuite(PF_InData *in_data, PF_OutData *out_data, const char *name, A_long version,
                         const char *error_message)
{
    if (in_data->pica_basicP != nullptr) {
        (void)in_data->pica_basicP->ReleaseSuite(name, version);
        return PF_Err_NONE;
    }
    return ReportSuiteFailure(in_data, out_data,
                              error_message ? error_message : "Not able to release AEFX Suite.");
}
