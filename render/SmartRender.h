// The two smart-render commands of the effect, called by the entry point's dispatch.
#pragma once

#include "AE_Effect.h"

// PF_Cmd_SMART_PRE_RENDER: chooses the sampled frames, requests them from the host and hands the
// host the work record that the matching render receives.
PF_Err SmartPreRender(PF_InData *in_data, PF_OutData *out_data, PF_PreRenderExtra *extra);

// PF_Cmd_SMART_RENDER: checks the sampled frames and the output out and draws the clean plate.
PF_Err SmartRender(PF_InData *in_data, PF_OutData *out_data, PF_SmartRenderExtra *extra);
