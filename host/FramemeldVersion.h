// Everything the host learns about the effect before it runs any of the effect's code: the
// PiPL reads these values at build time and GlobalSetup hands the same ones to the host at run
// time, and the host refuses an effect whose two answers differ. Only SDK constants may be used
// here: the PiPL generator includes this header on the build machine without the plug-in.
#pragma once

#include "AE_Effect.h"

constexpr A_long VERSION_MAJOR = 2;
constexpr A_long VERSION_MINOR = 2;
constexpr A_long VERSION_BUGFIX = 0;
constexpr A_long VERSION_STAGE = PF_Stage_RELEASE;
constexpr A_long VERSION_BUILD = 1;

// out_data->my_version and the PiPL's effect version.
constexpr A_u_long FRAMEMELD_VERSION =
    PF_VERSION(VERSION_MAJOR, VERSION_MINOR, VERSION_BUGFIX, VERSION_STAGE, VERSION_BUILD);

// The plate depends on frames other than the current one only through the layer checkouts of
// the smart pre-render, so neither WIDE_TIME_INPUT nor NON_PARAM_VARY is wanted.
constexpr PF_OutFlags FRAMEMELD_OUT_FLAGS =
    PF_OutFlag_PIX_INDEPENDENT | PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI;

constexpr PF_OutFlags2 FRAMEMELD_OUT_FLAGS2 =
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;

// Identity in the host's effect menu and in saved projects; the match name must never change.
constexpr char FRAMEMELD_NAME[] = "Framemeld 2";
constexpr char FRAMEMELD_CATEGORY[] = "Tessaran";
constexpr char FRAMEMELD_MATCH_NAME[] = "Tessaran Framemeld 2";

// The exported function that the PiPL's code properties name.
constexpr char FRAMEMELD_ENTRY_POINT[] = "EntryPointFunc";

// PiPL format version and the effect API version the effect was written against.
constexpr A_short FRAMEMELD_PIPL_VERSION_MAJOR = 2;
constexpr A_short FRAMEMELD_PIPL_VERSION_MINOR = 1;
constexpr A_short FRAMEMELD_SPEC_VERSION_MAJOR = 13;
constexpr A_short FRAMEMELD_SPEC_VERSION_MINOR = 17;
