#pragma once
// What the tool prints on stdout (the help, the version report, the JSON report) goes to pipes
// and files that pipelines and `make` read: a full disk or a closed pipe must not pass for
// success.

#include <string>

namespace framemeld::cli {

// Writes and flushes `text`; throws RunError with the system's reason when it cannot.
void writeToStdout(const std::string &text);

} // namespace framemeld::cli
