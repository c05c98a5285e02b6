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
#include "cli/plate/PngPlateWriter.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

fs::path folderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

struct TemporaryFile {
    fs::path path;
    bool keep = false;
    ~TemporaryFile()
    {
        if (keep) {
            return;
        }
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

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
}

void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel)
{
    // Hidden, in the target folder (so the rename stays on one file system), same extension.
    const fs::path target(path);
    TemporaryFile temporary;
    temporary.path = folderOf(path) / ("." + target.stem().string() + ".framemeld-" +
                                       std::to_string(getpid()) + target.extension().string());

    if (writesPngPlate(path, plate.depth)) {
        UniqueFile file(std::fopen(temporary.path.c_str(), "wb"));
        if (!file) {
            throw RunError(path + ": cannot write the output (" + std::strerror(errno) + ")");
        }
        writePngPlate(file.get(), path, plate, options);
        // A full disk may only show when the file is closed.
        if (std::fclose(file.release()) != 0) {
            throw RunError(path + ": cannot write the output (" + std::strerror(errno) + ")");
        }
    } else {
        oiioModule().writePlate(temporary.path.string(), path, plate, options);
    }
    if (cancel != nullptr && cancel->load()) {
        throw CancelledError();
    }

    std::error_code error;
    fs::rename(temporary.path, target, error);
    if (error) {
        throw RunError(path + ": cannot put the output in place: " + error.message());
    }
    temporary.keep = true;
}

} // namespace framemeld::cli
