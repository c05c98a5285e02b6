// The SDK's names for its command and error codes, for messages a person reads:
// "PF_Err_OUT_OF_MEMORY (out of memory; code 4)" says what "4" does not.
#pragma once

#include <string>

#include "AE_Effect.h"

namespace framemeld::runner {

// "PF_Cmd_SMART_RENDER", or null for a code the SDK does not define. Returns a string literal and
// touches nothing else, so a signal handler may call it.
const char *commandName(PF_Cmd command) noexcept;

// The command's SDK name, or "command N" for a code the SDK does not define.
std::string describeCommand(PF_Cmd command);

// "PF_Err_OUT_OF_MEMORY (out of memory; code 4)"; a code the SDK does not define is shown as
// "error code N (not an SDK error code)".
std::string describeError(PF_Err err);

} // namespace framemeld::runner
