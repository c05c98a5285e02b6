// Internal: the host's C library for plug-ins (in_data->utils->ansi and "PF ANSI Suite" 1).
#pragma once

#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"

namespace framemeld::runner::detail {

void fillAnsiCallbacks(PF_ANSICallbacks &ansi);
const PF_ANSICallbacksSuite1 *ansiSuite();

} // namespace framemeld::runner::detail
