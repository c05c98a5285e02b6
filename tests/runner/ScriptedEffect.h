// An effect compiled into the test program, whose commands each test scripts. It lets a test
// make a plug-in misbehave in exactly one way and watch how the runner answers.
#pragma once

#include <atomic>
#include <functional>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "SPBasic.h"

namespace framemeld::scripted {

using Command = std::function<PF_Err(PF_InData *, PF_OutData *, void *extra)>;

struct Script {
    // Defaults: smart-render flags; one float slider "Amount" (0..10, default 5); a pre-render
    // that requests frame 0 as id 0 and attaches data with a counting delete function; a render
    // that does nothing.
    Command globalSetup;
    Command paramsSetup;
    Command preRender;
    Command render;
    Command other;
};

// The script of the running test; reset() restores the defaults.
Script &script();
void reset();

// How often the default delete function ran.
extern std::atomic<int> g_deletes;

PF_Err entry(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data, PF_ParamDef *params[],
             PF_LayerDef *output, void *extra);

// Pieces of the default behaviour, for scripts that change only part of it.
PF_Err defaultGlobalSetup(PF_InData *, PF_OutData *out, void *);
PF_Err defaultParamsSetup(PF_InData *in, PF_OutData *out, void *);
PF_Err defaultPreRender(PF_InData *in, PF_OutData *, void *extra);
void attachCountedData(PF_PreRenderExtra *extra);

} // namespace framemeld::scripted
