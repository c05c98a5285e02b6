// Which call into module code is running at this moment, kept where a signal handler or an exit
// handler can read it. A loaded module runs in this process, so its crash or exit() would
// otherwise look like the program's own; with this record the program can tell them apart and
// report them as the module's, naming what the module was doing.
#pragma once

namespace framemeld::runner {

// Marks a call into module code as in flight for its lifetime. `what` names it for a person
// ("PF_Cmd_SMART_RENDER", "loading the module") and must outlive the process (a string literal).
// Scopes nest; code the module runs on other threads meanwhile (iterate workers) counts as part
// of the call.
class ModuleCallScope {
public:
    explicit ModuleCallScope(const char *what) noexcept;
    ~ModuleCallScope();
    ModuleCallScope(const ModuleCallScope &) = delete;
    ModuleCallScope &operator=(const ModuleCallScope &) = delete;

private:
    const char *previous_;
};

// The name of the module call in flight, or null when none is. Reads two lock-free atomics and
// nothing else, so signal handlers and exit handlers may call it.
const char *moduleCallInFlight() noexcept;

} // namespace framemeld::runner
