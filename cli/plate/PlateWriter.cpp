#include "cli/plate/PlateWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/footage/PngFrameReader.h"
#include "cli/oiio/OiioModule.h"
#include "cli/plate/OutputPath.h"
#include "cli/plate/PngPlateWriter.h"
#include "cli/plate/TemporaryPlateFile.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

fs::path folderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

} // namespace

void checkOutputPath(const std::string &path)
{
    if (!hasPngExtension(path) && !oiioModule().writesFormatOf(path)) {
        throw UsageError(path + ": unknown image format for the output (the extension decides: " +
                         ".exr, .tif, .png, .dpx, .jpg, ...)");
    }
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

void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel)
{
    // Beside the file a linked output points to, so that the rename stays on one file system
    // and replaces that file, not the link.
    TemporaryPlateFile temporary(resolvedOutputPath(path), path);

    if (writesPngPlate(path, plate.depth)) {
        // A second descriptor for stdio to own and close; the temporary file keeps its own to
        // sync and check the file by.
        const int fd = dup(temporary.fd());
        UniqueFile file(fd >= 0 ? fdopen(fd, "wb") : nullptr);
        if (!file) {
            const int failure = errno;
            if (fd >= 0) {
                close(fd);
            }
            throw RunError(path + ": cannot write the output (" + std::strerror(failure) + ")");
        }
        writePngPlate(file.get(), path, plate, options);
        // A full disk may only show when the buffer is flushed.
        if (std::fclose(file.release()) != 0) {
            throw RunError(path + ": cannot write the output (" + std::strerror(errno) + ")");
        }
    } else {
        oiioModule().writePlate(temporary.fd(), path, plate, options);
    }
    if (cancel != nullptr && cancel->load()) {
        throw CancelledError();
    }
    temporary.putInPlace();
}

} // namespace framemeld::cli
