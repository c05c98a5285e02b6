#include "cli/plate/OutputPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli/CliError.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

// As the kernel's own limit on links followed in one lookup.
constexpr int kMaxLinks = 40;

bool sameFile(const struct stat &a, const std::string &path)
{
    struct stat b {};
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string resolvedOutputPath(const std::string &path)
{
    fs::path current(path);
    for (int links = 0; links < kMaxLinks; ++links) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return current.string();
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            return current.string();
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    throw RunError(path + ": cannot write the output (too many levels of symbolic links)");
}

void checkOutputIsNoInput(const std::string &output, const Clip &clip)
{
    struct stat plate {};
    if (stat(output.c_str(), &plate) != 0) {
        return; // not there yet, so no input either
    }
    auto refuse = [&](const std::string &input) {
        throw RunError(output + ": is the input " + input +
                       "; the plate would replace it (name another output)");
    };
    if (clip.kind == ClipKind::Movie) {
        if (sameFile(plate, clip.moviePath)) {
            refuse(clip.moviePath);
        }
        return;
    }
    for (const std::string &frame : clip.frameFiles) {
        if (sameFile(plate, frame)) {
            refuse(frame);
        }
    }
}

} // namespace framemeld::cli
