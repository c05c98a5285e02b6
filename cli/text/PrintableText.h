#pragma once
// Messages name files, and file names may hold any byte but '/' and NUL: a newline or an escape
// sequence in a name printed as it is would forge lines or drive the user's terminal.

#include <string>

namespace framemeld::cli {

// `text` with control characters (C0, DEL, and C1 as UTF-8) written as \n, \t, \xHH.
std::string printableText(const std::string &text);

} // namespace framemeld::cli
