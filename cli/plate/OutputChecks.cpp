#include "cli/plate/OutputChecks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/core/CliError.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/formats/OiioModule.h"
#include "cli/formats/PngFrameReader.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

// As the kernel's own limit on links followed in one lookup.
constexpr int kMaxLinks = 40;

fs::path folderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

bool sameFile(const struct stat &a, const std::string &path)
{
    struct stat b {};
    return stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The same folder however it is spelled; a folder that does not exist is nobody's footage.
bool sameFolder(const fs::path &a, const fs::path &b)
{
    std::error_code error;
    return fs::equivalent(a.empty() ? fs::path(".") : a, b.empty() ? fs::path(".") : b, error) &&
           !error;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether `name` is prefix, a frame number (a sign allowed) and suffix, as discovery reads them.
bool matchesPattern(const std::string &name, const SequencePattern &pattern)
{
    if (name.size() <= pattern.prefix.size() + pattern.suffix.size() ||
        name.compare(0, pattern.prefix.size(), pattern.prefix) != 0 ||
        name.compare(name.size() - pattern.suffix.size(), pattern.suffix.size(), pattern.suffix) !=
            0) {
        return false;
    }
    std::string number = name.substr(pattern.prefix.size(),
                                     name.size() - pattern.prefix.size() - pattern.suffix.size());
    if (!number.empty() && number[0] == '-') {
        number.erase(0, 1);
    }
    if (number.empty()) {
        return false;
    }
    for (const char c : number) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
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

void checkOutputStaysOutOfTheClip(const std::string &output, const std::string &input)
{
    const fs::path plate(resolvedOutputPath(output));
    const std::string name = plate.filename().string();
    if (name.empty() || name[0] == '.') {
        return; // hidden files are never frames
    }
    std::error_code error;
    if (fs::is_directory(input, error)) {
        if (sameFolder(plate.parent_path(), fs::path(input))) {
            throw RunError(output + ": is in the folder of frames " + input +
                           "; the plate would be taken for a frame on the next run (write it "
                           "elsewhere)");
        }
        return;
    }
    // A file named like a pattern is that file (see discoverClip): no frames are named after it.
    if (fs::exists(input, error)) {
        return;
    }
    SequencePattern pattern;
    if (parseSequencePattern(input, pattern) &&
        sameFolder(plate.parent_path(), fs::path(pattern.directory)) &&
        matchesPattern(name, pattern)) {
        throw RunError(output + ": is named like the frames of " + input +
                       "; the plate would be taken for a frame on the next run (name it "
                       "otherwise)");
    }
}

void checkOutputPath(const std::string &path)
{
    if (!hasPngExtension(path) && !oiioModule().writesFormatOf(path)) {
        throw UsageError(path + ": unknown image format for the output (the extension decides: " +
                         ".exr, .tif, .png, .dpx, .jpg, ...)");
    }
    checkWritableOutput(path);
}

void checkWritableOutput(const std::string &path)
{
    std::error_code error;
    if (fs::is_directory(path, error)) {
        throw RunError(path + ": is a folder, not an output file");
    }
    const fs::path folder = folderOf(path);
    if (!fs::is_directory(folder, error)) {
        throw RunError(path + ": cannot write the output, the folder " + folder.string() +
                       " does not exist");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw RunError(path + ": cannot write the output, the folder " + folder.string() +
                       " is not writable");
    }
    // A linked output is written beside the file the link points to, and replaces that file.
    const std::string target = resolvedOutputPath(path);
    const fs::path targetFolder = folderOf(target);
    if (target != path && !fs::is_directory(targetFolder, error)) {
        throw RunError(path + ": cannot write the output, the folder " + targetFolder.string() +
                       " of the file it links to does not exist");
    }
    if (target != path && access(targetFolder.c_str(), W_OK | X_OK) != 0) {
        throw RunError(path + ": cannot write the output, the folder " + targetFolder.string() +
                       " of the file it links to is not writable");
    }
    // The plate replaces the file by a rename, which a writable folder allows whoever owns the
    // file: an existing file is only replaced by someone who may write to it.
    if (fs::is_directory(target, error)) {
        throw RunError(path + ": is a folder, not an output file");
    }
    if (access(target.c_str(), F_OK) == 0 && access(target.c_str(), W_OK) != 0) {
        throw RunError(path + ": cannot write the output, the file exists and is not writable (" +
                       std::strerror(errno) + ")");
    }
}

} // namespace framemeld::cli
