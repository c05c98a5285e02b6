#pragma once
// The plug-in module runs inside this process, so without a guard its crash ends the tool with a
// bare signal and its exit(0) ends it with success and no plate. The guard turns both into the
// module's failure: a fixed message naming the module and what it was running, then exit status
// kExitModuleFault.

#include <string>

namespace framemeld::cli {

// Installs, for the rest of the process, handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT
// (on an alternate stack, so a stack overflow is caught too) and for exit() and quick_exit().
// They act only while a call into the module is in flight (runner::moduleCallInFlight); at other
// times the signals keep the action they had before. Call before the module is loaded; a second
// call only changes the message: the module it names and the consequence it ends with (a string
// literal).
void guardModuleFaults(const std::string &modulePath,
                       const char *consequence = "no output written");

} // namespace framemeld::cli
