// framemeld: footage in, clean plate out, through the host runner and the Framemeld module.
// This file reads the command line, hands it to the command it names and prints how that ended;
// everything else lives in the layers below (cli/app, then cli/job).

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/app/CancelSignal.h"
#include "cli/app/Commands.h"
#include "cli/app/HelpReport.h"
#include "cli/app/Options.h"
#include "cli/app/StandardOutput.h"
#include "cli/app/ThirdPartyLeaks.h"
#include "cli/app/VersionReport.h"
#include "cli/core/CliError.h"
#include "cli/text/PrintableText.h"

using namespace framemeld::cli;

namespace {

RunReport dispatch(const Options &options, std::atomic<bool> &cancel,
                   std::optional<CancelSignal> &onSignal)
{
    if (options.help || options.version) {
        // Nothing to clean up: a signal ends them as it ends any program.
        onSignal.reset();
        if (cancel.load()) {
            throw CancelledError();
        }
    }
    if (options.help) {
        printHelp(options);
        return {};
    }
    if (options.merge) {
        return runMergeCommand(options, cancel);
    }
    if (options.alignCommand) {
        return runAlignCommand(options, cancel);
    }
    if (options.version) {
        printVersion(options.plugin);
        return {};
    }
    return runRenderCommand(options, cancel);
}

// A closed standard descriptor is the lowest free one: the next file opened (a frame, the
// scratch file, the plate) would become it, and any library's stray error line would land in its
// data. Each closed one is held by /dev/null before anything else is opened, read-only, so that
// writing to it still fails as writing to a closed descriptor does (--json says so).
void occupyStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = open("/dev/null", O_RDONLY);
            if (opened >= 0 && opened != fd) {
                close(opened); // cannot happen: the lowest free descriptor is `fd`
            }
        }
    }
}

} // namespace

// Read by LeakSanitizer when the tool is built with it; an unused function otherwise.
extern "C" const char *__lsan_default_suppressions()
{
    return kThirdPartyLeakSuppressions;
}
extern "C" const char *__lsan_default_options()
{
    return kLeakSanitizerOptions;
}

int main(int argc, char **argv)
{
    // Before anything opens a file or takes time: a stdout the caller closed stays closed (see
    // StandardOutput.h), and a signal that comes while the command line is read or the module
    // loads cancels the run as a later one does, with exit status 130 and the --json object.
    holdStandardOutput();
    occupyStandardDescriptors();
    static std::atomic<bool> cancel{false};
    std::optional<CancelSignal> onSignal;
    onSignal.emplace(cancel);

    const CommandLine line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    RunReport report;
    try {
        if (line.failure) {
            std::rethrow_exception(line.failure);
        }
        report = dispatch(line.options, cancel, onSignal);
    } catch (...) {
        recordFailure(std::current_exception(), report);
    }
    // Every layer leaves its failure to its caller; this is where it is said.
    if (report.exitStatus != kExitOk) {
        std::fprintf(stderr, "framemeld: %s\n", printableText(report.message).c_str());
    }
    const Options &options = line.options;
    if (options.json && !options.help && !options.version) {
        // The exit status tells what happened to the plate, written or not; a report that cannot
        // be written changes neither (README, "Exit status").
        const std::string failure = writeReportToStdout(report.json());
        if (!failure.empty()) {
            std::fprintf(
                stderr, "framemeld: cannot write the JSON report to standard output: %s%s\n",
                failure.c_str(), report.exitStatus == kExitOk ? "; the plate was written" : "");
        }
    }
    return report.exitStatus;
}
