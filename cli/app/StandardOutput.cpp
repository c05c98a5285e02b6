#include "cli/app/StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/core/CliError.h"

namespace framemeld::cli {

void writeToStdout(const std::string &text)
{
    errno = 0;
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written || std::ferror(stdout)) {
        const int error = errno;
        throw RunError(std::string("cannot write to standard output: ") +
                       (error != 0 ? std::strerror(error) : "write error"));
    }
}

} // namespace framemeld::cli
