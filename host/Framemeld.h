// The plug-in's single exported function and the two setup commands it answers itself.
#pragma once

#include "AE_Effect.h"

// The host finds EntryPointFunc by name, so it is the one symbol the module exports; every
// other symbol stays hidden.
#if defined(_WIN32)
#define FRAMEMELD_EXPORT __declspec(dllexport)
#else
#define FRAMEMELD_EXPORT __attribute__((visibility("default")))
#endif

// Answers About, global setup, parameter setup and the two smart-render commands; every other
// command returns PF_Err_NONE without touching anything. No exception leaves it: a thrown int
// is returned as the error code, std::bad_alloc as PF_Err_OUT_OF_MEMORY and anything else as
// PF_Err_INTERNAL_STRUCT_DAMAGED.
extern "C" FRAMEMELD_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData *in_data,
                                                  PF_OutData *out_data, PF_ParamDef *params[],
                                                  PF_LayerDef *output, void *extra);

// PF_Cmd_ABOUT: "Framemeld for After Effects, v2.2" and a carriage return into return_msg.
PF_Err About(PF_InData *in_data, PF_OutData *out_data);

// PF_Cmd_GLOBAL_SETUP: version and flags, equal to what the PiPL declares.
PF_Err GlobalSetup(PF_InData *in_data, PF_OutData *out_data);
