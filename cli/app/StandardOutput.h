#pragma once
// What the tool prints on stdout (the help, the version report, the JSON report) goes to pipes
// and files that pipelines and `make` read: a full disk, a closed pipe or a closed descriptor
// must not pass for success. A stdout that was closed when the program started is held by
// /dev/null, so that no file the run opens lands on descriptor 1 and takes the text meant for
// stdout, and is still reported as closed.

#include <string>

namespace framemeld::cli {

// Call first thing in main(), before anything opens a file.
void holdStandardOutput();

// Writes and flushes `text`; throws RunError with the system's reason when it cannot.
void writeToStdout(const std::string &text);

// The same for a report that goes with work already done (--json): returns the reason it could
// not be written, empty when it was. A reader that closed its end of the pipe gives EPIPE here,
// not a SIGPIPE that would end the program.
std::string writeReportToStdout(const std::string &text);

} // namespace framemeld::cli
