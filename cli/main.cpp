// framemeld: footage in, clean plate out, through the host runner and the Framemeld module.
// This file reads the command line, hands it to the command it names and prints how that ended;
// everything else lives in the layers below (cli/app, then cli/job).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/app/Commands.h"
#include "cli/app/HelpReport.h"
#include "cli/app/Options.h"
#include "cli/app/ThirdPartyLeaks.h"
#include "cli/app/VersionReport.h"
#include "cli/core/CliError.h"
#include "cli/text/PrintableText.h"

using namespace framemeld::cli;

namespace {

RunReport dispatch(const Options &options)
{
    if (options.help) {
        printHelp(options);
        return {};
    }
    if (options.merge) {
        return runMergeCommand(options);
    }
    if (options.version) {
        printVersion(options.plugin);
        return {};
    }
    return runRenderCommand(options);
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
    occupyStandardDescriptors();
    const CommandLine line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    RunReport report;
    try {
        if (line.failure) {
            std::rethrow_exception(line.failure);
        }
        report = dispatch(line.options);
    } catch (...) {
        recordFailure(std::current_exception(), report);
    }
    // Every layer leaves its failure to its caller; this is where it is said.
    if (report.exitStatus != kExitOk) {
        std::fprintf(stderr, "framemeld: %s\n", printableText(report.message).c_str());
    }
    const Options &options = line.options;
    if (options.json && !options.help && !options.version) {
        if (std::fputs(report.json().c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "framemeld: cannot write the JSON report to standard output: %s\n",
                         std::strerror(errno));
            return report.exitStatus != kExitOk ? report.exitStatus : kExitFailure;
        }
    }
    return report.exitStatus;
}
