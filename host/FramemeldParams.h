// The effect's parameters: the input layer the host adds, then five float sliders. An index
// is also the parameter's id in saved projects, so neither may ever be reordered.
#pragma once

#include "AE_Effect.h"

enum {
    PARAM_INPUT = 0,
    PARAM_START_FRAME,
    PARAM_END_FRAME,
    PARAM_EVERY_NTH,
    PARAM_DIVERGENCE,
    PARAM_RATING_RANGE,
    PARAM_COUNT // includes the input layer
};

// PF_Cmd_PARAMS_SETUP: registers the five sliders in index order. The first error from the
// host's add_param is returned at once, leaving num_params unwritten.
PF_Err ParamsSetup(PF_InData *in_data, PF_OutData *out_data);
