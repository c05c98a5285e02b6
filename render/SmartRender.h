// The two smart-render commands of the effect, called by the entry point's dispatch.
#pragma once

#include "AE_Effect.h"

// Rows of the output that one band of the float render covers: each band makes one pass of the
// host's float iterate per sampled frame, gathering these rows of every frame at once.
inline constexpr A_long kFloatBandRows = 10;

// PF_Cmd_SMART_PRE_RENDER: chooses the sampled frames, requests them from the host and hands the
// host the work record that the matching render receives.
PF_Err SmartPreRender(PF_InData *in_data, PF_OutData *out_data, PF_PreRenderExtra *extra);

// PF_Cmd_SMART_RENDER: checks the sampled frames and the output out and draws the clean plate.
PF_Err SmartRender(PF_InData *in_data, PF_OutData *out_data, PF_SmartRenderExtra *extra);
